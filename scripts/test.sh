#!/usr/bin/env bash
# Installs what is missing, checks the include rules between folders, builds with
# AddressSanitizer and UBSan, runs every test, builds the libFuzzer targets with clang and runs
# each briefly, then runs the tests of the threaded code (reports, browser) under
# ThreadSanitizer. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/check-includes.py

jobs=$(nproc 2>/dev/null || echo 2)
build=${KESTROVA_BUILD_DIR:-build/test}
fuzz_build=${KESTROVA_FUZZ_BUILD_DIR:-build/fuzz}
tsan_build=${KESTROVA_TSAN_BUILD_DIR:-build/tsan}

# The benchmarks and the window screenshot tool are compiled here too (not run), so they
# cannot rot. For a faster clean build: each target compiles as one combined file
# (KESTROVA_UNITY), linked by lld, with line tables only as debug information (-g1: sanitizer
# reports keep their file:line frames, inlined ones included).
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTROVA_SANITIZE=ON -DKESTROVA_BENCH=ON \
  -DKESTROVA_UNITY=ON -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_CXX_FLAGS_DEBUG=-g1
cmake --build "$build" -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$build" && ctest --output-on-failure -j "$jobs" --label-exclude fuzz)

# The fuzzers and the libraries they link, each source compiled on its own (so this build also
# shows that every library source includes what it uses).
CC=clang CXX=clang++ cmake -S . -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTROVA_FUZZ=ON -DKESTROVA_WINDOWS=OFF
cmake --build "$fuzz_build" -j "$jobs" --target kestrova_fuzzers
(cd "$fuzz_build" && ctest --output-on-failure -j "$jobs" -L fuzz --no-tests=ignore)

# The reports and browser run worker threads (re-analysis detection, workbook conversion, the
# track's detection ahead): their tests again under ThreadSanitizer, built with clang without
# windows, only those two test programs, run side by side.
CC=clang CXX=clang++ cmake -S . -B "$tsan_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DKESTROVA_TSAN=ON -DKESTROVA_WINDOWS=OFF -DKESTROVA_UNITY=ON \
  -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld
cmake --build "$tsan_build" -j "$jobs" --target kestrova_reports_tests kestrova_browser_tests
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
"$tsan_build/tests/reports/kestrova_reports_tests" --gtest_brief=1 &
reports_tsan=$!
"$tsan_build/tests/browser/kestrova_browser_tests" --gtest_brief=1 &
browser_tsan=$!
tsan_status=0
wait "$reports_tsan" || tsan_status=$?
wait "$browser_tsan" || tsan_status=$?
[ "$tsan_status" -eq 0 ]
echo "test.sh: all tests passed"
