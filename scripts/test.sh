#!/usr/bin/env bash
# Installs what the build needs, builds everything twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test, then
# fuzzes reply reception for a minute with a clang build. The contract tests'
# npm packages come from their lock file.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
install_deps
# The contract tests' TypeScript tools, exactly as the lock file pins them.
(cd tests/contract && npm ci --no-audit --no-fund)

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 120)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZUV_SANITIZE=ON -DZUV_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs" --timeout 180)

# The fuzzer needs clang's libFuzzer; the top-level build adds fuzz/ only then.
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZUV_BUILD_TESTS=OFF -DZUV_BUILD_BENCH=OFF
cmake --build build-fuzz -j "$jobs" --target fuzz_reply
mkdir -p build-fuzz/corpus
(cd build-fuzz && ./fuzz/fuzz_reply -max_total_time=60 -print_final_stats=1 corpus)
echo "fuzz_reply: 60 s of reply reception without a finding"
