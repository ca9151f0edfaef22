#!/usr/bin/env bash
# Kill trials against the real program and library under Wine (tests/e2e/faults):
# N kills of OCTO816.EXE while it saves its settings (default 200) and N/4 kills of a
# client of OCTO816.DLL during a read-out; then N/4 kills of the native octo816 program
# --log during a series (tests/soak/cli_kill_trials.cpp), N kills of octo816 program with
# serial records (tests/soak/cli_serial_kill_trials.cpp) and N (or M) kills of the window during a
# series of serialized runs (tests/e2e/faults/serial_kill_trials.cpp). Prints SOAK lines,
# the serial figures of both also summed (serial_duplicates, ...); exits non-zero when a
# configuration file, a read-out file or a traceability log was left damaged, or a serial
# record reached two chips or a chip without the ledger knowing.
# Needs both presets built (scripts/test does it); OCTO_KILL_TRIALS, OCTO_CLI_KILL_TRIALS
# and OCTO_WINDOW_SERIAL_KILL_TRIALS name other runners.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
trials=${1:-200}
# The window's serialized series take seconds each: a second argument asks for fewer.
window_serial_trials=${2:-$trials}
runner=${OCTO_KILL_TRIALS:-$here/build/native/bin/octo_kill_trials}
cli_runner=${OCTO_CLI_KILL_TRIALS:-$here/build/native/bin/octo_cli_kill_trials}
serial_runner=$here/build/native/bin/octo_cli_serial_kill_trials
window_serial_runner=${OCTO_WINDOW_SERIAL_KILL_TRIALS:-$here/build/native/bin/octo_window_serial_kill_trials}
for r in "$runner" "$cli_runner" "$serial_runner" "$window_serial_runner"; do
  if [ ! -x "$r" ]; then
    echo "kill_trials: $r is missing; build the native and windows presets first" >&2
    exit 2
  fi
done
serial_out=$(mktemp)
trap 'rm -f "$serial_out"' EXIT
cli_trials=$((trials / 4))
((cli_trials >= 5)) || cli_trials=5
status=0
"$runner" "$trials" || status=1
"$cli_runner" "$cli_trials" || status=1
"$serial_runner" "$trials" | tee "$serial_out" || status=1
"$window_serial_runner" "$window_serial_trials" | tee -a "$serial_out" || status=1
# The chips' history of both kinds of kill together.
awk '$1 == "SOAK" && $2 ~ /^(cli|window)_serial_/ {
    name = $2; sub(/^(cli|window)_/, "", name); total[name] += $3; seen[name] = 1
  }
  END {
    split("serial_kill_trials serial_records_written serial_duplicates serial_unrecorded serial_programmed_unwritten", order, " ")
    for (i = 1; i in order; i++) if (order[i] in seen) printf "SOAK %s %d\n", order[i], total[order[i]]
  }' "$serial_out"
exit $status
