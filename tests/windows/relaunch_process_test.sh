#!/usr/bin/env bash
# The instrument unplugged in the middle of an unattended run, with real processes: the
# program counts down, relaunches itself and ends with status 3; the new instance finds no
# instrument and waits for it without asking anything; the instrument comes back (a fresh
# virtual instrument on the same port) and the new instance connects, records a new
# acquisition and ends with its report. (A pulled cable that keeps the device node takes the
# same path, only slower: every silent block waits out the read time-outs, about 4 minutes
# before the relaunch; the engine and session tests cover it with short time-outs.)
# Usage: relaunch_process_test.sh KESTROVA KESTROVA_SIM KESTROVA_DEMO_SETUP
set -uo pipefail
kestrova=$1 sim=$2 setup=$3
work=$(mktemp -d)
data=$work/data
sim_pid=
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.log; do echo "--- $f" >&2; tail -n 20 "$f" >&2; done
  exit 1
}
instances() { pgrep -f -- "--data-dir $data /run" || true; }
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  for p in $(instances); do kill -CONT "$p" 2>/dev/null; kill -9 "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen

counts_bytes() { find "$data/p00001" -name counts.bin -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }'; }

start_sim() {
  "$sim" --link "$data/ports/COM1" --data-dir "$data" --plate w96f "$@" >>"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -e "$data/ports/COM1" ] && return 0; sleep 0.05; done
  fail "the virtual instrument did not start"
}

"$setup" "$data" 1 >/dev/null || fail "demo setup"
start_sim

"$kestrova" --data-dir "$data" /run --exit-when-complete >"$work/first.log" 2>&1 &
first=$!

# Once the first instance has recorded a buffer, the instrument is unplugged: its process
# ends, the port's device goes away.
deadline=$((SECONDS + 120))
until [ "$(counts_bytes 2>/dev/null)" -gt 0 ]; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the first instance did not start recording"
  kill -0 "$first" 2>/dev/null || fail "the first instance ended before recording"
  sleep 0.2
done
kill -9 "$sim_pid"
wait "$sim_pid" 2>/dev/null
sim_pid=
# The port's link goes with the instrument: left behind, it names a pseudo-terminal number that
# another test's virtual instrument may take over, and the new instance would talk to that one.
rm -f "$data/ports/COM1"

# Find the relaunched instance. The intermediate process of the detached start (a child of the
# first instance) is left alone: the first instance waits for it.
second=
deadline=$((SECONDS + 240))
while [ "$SECONDS" -lt "$deadline" ]; do
  for p in $(instances); do
    [ "$p" = "$first" ] && continue
    [ "$(ps -o ppid= -p "$p" | tr -d ' ')" = "$first" ] && continue
    second=$p
  done
  [ -n "$second" ] && break
  kill -0 "$first" 2>/dev/null || break
  sleep 0.02
done
[ -n "$second" ] || fail "no new instance was started"
wait "$first"
status=$?
[ "$status" -eq 3 ] || fail "the first instance ended with status $status, not 3"
grep -q "relaunched" "$work/first.log" || fail "the first instance gave no reason"
before=$(counts_bytes)
[ "$before" -gt 0 ] || fail "nothing was recorded before the instrument went away"

# The new instance waits for the instrument (trying after 2, 4, 8 s ...) and asks nothing.
sleep 8
kill -0 "$second" 2>/dev/null || fail "the relaunched instance did not wait for the instrument"
start_sim

# The new instance records a whole acquisition and writes its report, then ends.
deadline=$((SECONDS + 240))
while [ "$SECONDS" -lt "$deadline" ]; do
  kill -0 "$second" 2>/dev/null || break
  sleep 0.5
done
kill -0 "$second" 2>/dev/null && fail "the relaunched instance did not end"
# The relaunch records into a new acquisition folder (within the first one's minute it takes the
# next free minute's name): the newest folder holds the report and more has been recorded.
newest=$(find "$data/p00001" -mindepth 1 -maxdepth 1 -type d -name '2*' | sort | tail -n 1)
[ -f "$newest/report.csv" ] || fail "the relaunched instance wrote no report"
after=$(counts_bytes)
[ "$after" -gt "$before" ] || fail "the relaunched instance recorded nothing ($before bytes before, $after after)"
echo "relaunch: first instance status 3; counts $before -> $after bytes; report in $(basename "$newest")"
