#!/usr/bin/env bash
# Builds voxrelay three times and runs every test: unit and end-to-end tests with GCC, the
# unit tests built for the board's CPU (32-bit big-endian PowerPC) under qemu-user with one
# end-to-end smoke test, the host's tests again with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, every libFuzzer target for a bounded time, and each benchmark
# once briefly.
# FUZZ_SECONDS (default 30) bounds each fuzz target; JOBS the build parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh test
jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-30}

echo "== build (gcc)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
echo "== tests (gcc)"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build (powerpc-linux-gnu: the board's 32-bit big-endian CPU)"
cmake -S . -B build-ppc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-ppc.cmake >/dev/null
cmake --build build-ppc -j "$jobs"
echo "== tests (powerpc, under qemu-user)"
ctest --test-dir build-ppc --output-on-failure -j "$jobs"

echo "== build (clang, ASan+UBSan, fuzz instrumentation)"
CC=clang CXX=clang++ cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DVOXRELAY_SANITIZE=ON -DVOXRELAY_FUZZ=ON -DVOXRELAY_BENCH=OFF >/dev/null
cmake --build build-san -j "$jobs"
echo "== tests (sanitizers)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-san --output-on-failure -j "$jobs"

echo "== fuzz (${fuzz_seconds}s per target, ${jobs} at a time)"
ls build-san/tests/fuzz_* | xargs -P "$jobs" -n 1 tools/fuzz_one.sh "$fuzz_seconds"

echo "== benchmarks (one brief run each)"
for b in build/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "-- $(basename "$b")"
  "$b" --benchmark_min_time=0.01 >/dev/null
done
echo "== all tests passed"
