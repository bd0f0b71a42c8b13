# Shell test helpers for Windows programs under wine: run one, then check
# its exit status and output. Sourced; $exe is the program.
work=$(mktemp -d /tmp/zuv-wintest.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

# Runs $exe with the arguments: exit status in $status, standard output and
# error in $out and $err (line ends as on Linux).
zuv() {
  wine "$exe" "$@" >"$work/out" 2>"$work/err" </dev/null
  status=$?
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
}

report() {
  if [ "$2" = ok ]; then
    echo "ok    $1"
  else
    failures=$((failures + 1))
    printf 'FAIL  %s: %s\n  status %s\n  stdout: %.600s\n  stderr: %.600s\n' "$1" "$2" "$status" "$out" "$err"
  fi
}

# expect WHAT STATUS REGEX: the last run ended with STATUS and a line of its
# standard output matches REGEX (^$: the output is empty).
expect() {
  if [ "$status" -ne "$2" ]; then report "$1" "exit status, want $2"
  elif [ "$3" = '^$' ] && [ -n "$out" ]; then report "$1" "output, want none"
  elif ! grep -Eq -- "$3" <<<"$out"; then report "$1" "output, want /$3/"
  else report "$1" ok
  fi
}

# expect_err WHAT TEXT: the last run's standard error holds TEXT.
expect_err() {
  if grep -Fq -- "$2" <<<"$err"; then report "$1" ok; else report "$1" "stderr, want \"$2\""; fi
}

finish() {
  echo "$failures failed"
  [ "$failures" -eq 0 ]
}
