#!/usr/bin/env bash
# Builds the benchmarks in Release and runs each one; extra arguments go to every benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${KESTROVA_BENCH_DIR:-build/bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROVA_BENCH=ON -DKESTROVA_TESTS=OFF
cmake --build "$build" -j "$(nproc)"
find "$build/bench" -type f -name '*_bench' -perm -u+x | sort | while read -r b; do
  echo "== $(basename "$b")"
  "$b" "$@"
done
