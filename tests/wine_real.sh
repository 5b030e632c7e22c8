#!/bin/bash
# The Windows build on Wine's real COM/WMI, process, registry and device
# calls (no simulated machine): help, policies, instance, syntax errors, a
# shell session, the registry commands and pgr/iostatus on Wine's devices,
# compared exactly. Never add a command that executes a WMI method: Wine
# crashes on it.
#
# The installer's cases (program = install) use the install.exe beside
# TOLLARD_EXE; those of e2e/wine_real/install_xp run on a prefix that
# reports Windows XP. Never run an uninstall that reaches the DelReg of the
# DSM's INF: Wine corrupts the multi-string value.
#
# Usage: wine_real.sh TOLLARD_EXE WORKDIR [TEMPLATE_PREFIX]
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: wine_real.sh TOLLARD_EXE WORKDIR [TEMPLATE_PREFIX]" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
template=${3:-$work/wine-template}
status=0
python3 "$here/run_e2e.py" --wine --tollard "$1" --work "$work" --wine-template "$template" \
  "$here/e2e/wine_real" || status=1

# The registry cases run on a copy of the template that holds the DSM's
# parameter key, seeded with Wine's reg.exe (run outside the build folders,
# so no other reg.exe is found first).
. "$here/wine_env.sh"
key='HKLM\SYSTEM\CurrentControlSet\Services\TEVDSM\DsmParameters'
seeded=$work/wine-template-dsm
seed() {
  wine_env_template "$template" && rm -rf "$seeded" && cp -a "$template" "$seeded" &&
    wine_env_export "$seeded" && cd / &&
    wine reg add "$key" /v DsmUsePersistentReservation /t REG_DWORD /d 1 /f &&
    wine reg add "$key" /v DsmPersistentReservationKey /t REG_BINARY /d 4142434445464748 /f &&
    wine reg add "$key" /v DsmRetryCount /t REG_DWORD /d 0xffffffff /f &&
    wineserver -w
}
if ! (seed) >/dev/null; then
  echo "FAIL wine_real.sh: could not seed the DSM parameter key in $seeded" >&2
  exit 1
fi
python3 "$here/run_e2e.py" --wine --tollard "$1" --work "$work/registry" \
  --wine-template "$seeded" "$here/e2e/wine_real/registry" || status=1

# What the real calls stored, by type, as Wine's reg.exe reads it back.
(
  wine_env_export "$work/registry/wine-prefix"
  cd /
  wine reg query "$key" | tr -d '\r' | sed -n 's/^ *\(Dsm[A-Za-z]*\) *\(REG_[A-Z]*\) *\(.*\)$/\1 \2 \3/p' |
    sort >"$work/registry/stored.txt"
  wineserver -k
) || true
expected=$(printf '%s\n' 'DsmNewValue REG_DWORD 0xfffffffe' \
  'DsmPersistentReservationKey REG_BINARY 4142434445464748' 'DsmRetryCount REG_DWORD 0xc' \
  'DsmUsePersistentReservation REG_DWORD 0x1')
if [ "$(cat "$work/registry/stored.txt")" != "$expected" ]; then
  echo "FAIL wine_real.sh: the registry holds, by wine reg query:" >&2
  cat "$work/registry/stored.txt" >&2
  status=1
fi
# The installer on a prefix reporting Windows XP (major version 5).
xp=$work/wine-template-xp
seed_xp() {
  wine_env_template "$template" && rm -rf "$xp" && cp -a "$template" "$xp" &&
    wine_env_export "$xp" && cd / &&
    wine reg add 'HKCU\Software\Wine' /v Version /d winxp /f && wineserver -w
}
if ! (seed_xp) >/dev/null 2>&1; then
  echo "FAIL wine_real.sh: could not make the XP prefix $xp" >&2
  exit 1
fi
python3 "$here/run_e2e.py" --wine --tollard "$1" --work "$work/xp" --wine-template "$xp" \
  "$here/e2e/wine_real/install_xp" || status=1
exit $status
