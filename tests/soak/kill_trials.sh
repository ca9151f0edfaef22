#!/usr/bin/env bash
# Kill trials against the real program and library under Wine (tests/e2e/faults):
# N kills of OCTO816.EXE while it saves its settings (default 200) and N/4 kills of a
# client of OCTO816.DLL during a read-out. Prints SOAK lines; exits non-zero when a
# configuration file or a read-out file was left damaged.
# Needs both presets built (scripts/test does it); OCTO_KILL_TRIALS names another runner.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
trials=${1:-200}
runner=${OCTO_KILL_TRIALS:-$here/build/native/bin/octo_kill_trials}
if [ ! -x "$runner" ]; then
  echo "kill_trials: $runner is missing; build the native and windows presets first" >&2
  exit 2
fi
exec "$runner" "$trials"
