# The port an emulator started in the background serves: the first line of
# its standard output ("PORT <name>"), read from the file it goes to. Waits
# up to five seconds; says so and fails when nothing came.
emulator_port() {
  local paper=$1 port=""
  for _ in $(seq 100); do
    port=$(sed -n '1s/^PORT //p' "$paper")
    [ -n "$port" ] && break
    sleep 0.05
  done
  if [ -z "$port" ]; then echo "the emulator did not start" >&2; return 1; fi
  echo "$port"
}
