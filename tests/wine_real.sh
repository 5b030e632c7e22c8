#!/bin/bash
# The Windows build on Wine's real COM/WMI and process calls (no simulated
# machine): help, policies, instance, syntax errors and a shell session,
# compared exactly. Never add a command that executes a WMI method: Wine
# crashes on it.
#
# Usage: wine_real.sh TOLLARD_EXE WORKDIR [TEMPLATE_PREFIX]
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: wine_real.sh TOLLARD_EXE WORKDIR [TEMPLATE_PREFIX]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
template=()
[ $# -eq 3 ] && template=(--wine-template "$3")
exec python3 "$here/run_e2e.py" --wine --tollard "$1" --work "$2" "${template[@]}" \
  "$here/e2e/wine_real"
