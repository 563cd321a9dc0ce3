#!/usr/bin/env bash
# The program's main job on a fresh machine: installs what is missing, builds (Release),
# prepares a demonstration data folder (project 1 on a 96-well plate with four named groups),
# starts the virtual instrument on that folder's port 1, and runs the program with
# "/run --exit-when-complete": it connects through the real serial driver, records an
# acquisition of a few minutes and writes its report; the report is then also converted into
# a workbook. With a display the windows show; without one the program runs offscreen.
#
# Settings: KESTROVA_DEMO_MINUTES (acquisition length, default 3), KESTROVA_DEMO_DIR (the data
# folder, default build/demo-data; it is made anew), KESTROVA_DEMO_BUILD_DIR (default build/demo).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=${KESTROVA_DEMO_BUILD_DIR:-build/demo}
data=${KESTROVA_DEMO_DIR:-$PWD/build/demo-data}
minutes=${KESTROVA_DEMO_MINUTES:-3}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROVA_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  --target kestrova kestrova-sim kestrova-report kestrova-demo-setup

rm -rf "$data"
"$build/tools/demo_setup/kestrova-demo-setup" "$data" "$minutes" >/dev/null

"$build/sim/kestrova-sim" --link "$data/ports/COM1" --data-dir "$data" --plate w96f \
  >"$build/demo-sim.log" 2>&1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "$data/ports/COM1" ] && break
  sleep 0.1
done
[ -e "$data/ports/COM1" ] || { echo "demo: the virtual instrument did not start" >&2; exit 1; }

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
echo "demo: recording a ${minutes}-minute acquisition against the virtual instrument..."
start=$(date +%s)
"$build/src/app/kestrova" --data-dir "$data" /run --exit-when-complete
echo "demo: the acquisition and its report took $(( $(date +%s) - start )) s"

acquisition=$(find "$data/p00001" -mindepth 1 -maxdepth 1 -type d -name '2*' | sort | tail -n 1)
[ -n "$acquisition" ] && [ -f "$acquisition/report.csv" ] || {
  echo "demo: no report was written" >&2
  exit 1
}
"$build/tools/kestrova_report/kestrova-report" --data-dir "$data" xlsx \
  "$acquisition/report.csv" "$acquisition/report.xlsx" >/dev/null

echo
echo "Acquisition folder: $acquisition"
echo "Report:             $acquisition/report.csv (workbook: report.xlsx)"
echo
sed -n '/Group Activity: Average/,/^\r\?$/p' "$acquisition/report.csv"
