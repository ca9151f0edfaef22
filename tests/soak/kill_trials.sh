#!/usr/bin/env bash
# Kill trials against the real program and library under Wine (tests/e2e/faults):
# N kills of OCTO816.EXE while it saves its settings (default 200) and N/4 kills of a
# client of OCTO816.DLL during a read-out; then N/4 kills of the native octo816 program
# --log during a series (tests/soak/cli_kill_trials.cpp), and N kills of octo816 program with
# serial records (tests/soak/cli_serial_kill_trials.cpp). Prints SOAK lines; exits non-zero
# when a configuration file, a read-out file or a traceability log was left damaged, or a
# serial record reached two chips or a chip without the ledger knowing.
# Needs both presets built (scripts/test does it); OCTO_KILL_TRIALS and
# OCTO_CLI_KILL_TRIALS name other runners.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
trials=${1:-200}
runner=${OCTO_KILL_TRIALS:-$here/build/native/bin/octo_kill_trials}
cli_runner=${OCTO_CLI_KILL_TRIALS:-$here/build/native/bin/octo_cli_kill_trials}
serial_runner=$here/build/native/bin/octo_cli_serial_kill_trials
for r in "$runner" "$cli_runner" "$serial_runner"; do
  if [ ! -x "$r" ]; then
    echo "kill_trials: $r is missing; build the native and windows presets first" >&2
    exit 2
  fi
done
cli_trials=$((trials / 4))
((cli_trials >= 5)) || cli_trials=5
status=0
"$runner" "$trials" || status=1
"$cli_runner" "$cli_trials" || status=1
"$serial_runner" "$trials" || status=1
exit $status
