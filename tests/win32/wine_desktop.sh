#!/usr/bin/env bash
# Runs a Windows test program under Wine on a display of its own: a throw-away Wine prefix
# whose programs open inside one Wine desktop (with its taskbar and notification area) on a
# virtual X server. Pictures the program saves go to $DOVRA_ARTIFACT_DIR (a Unix folder,
# default ./test-artifacts). Exits with the program's status.
# Usage: wine_desktop.sh PROGRAM.exe [arguments...]
set -euo pipefail
program=$1
shift
wine=${DOVRA_WINE:-}
if [ -z "$wine" ]; then
  for candidate in /usr/lib/wine/wine64 wine64 wine; do
    if command -v "$candidate" >/dev/null; then
      wine=$candidate
      break
    fi
  done
fi
[ -n "$wine" ] || { echo "wine_desktop.sh: Wine is not installed" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "wine_desktop.sh: xvfb-run is not installed" >&2; exit 1; }

prefix=$(mktemp -d "${TMPDIR:-/tmp}/dovra-wine.XXXXXX")
artifacts=$(realpath -m "${DOVRA_ARTIFACT_DIR:-test-artifacts}")
mkdir -p "$artifacts"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DOVRA_ARTIFACT_DIR="Z:${artifacts//\//\\}"
# wineserver needs a directory of its own; TMPDIR may be shared with other runs.
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

inner=$(mktemp "$prefix/run.XXXXXX.sh")
cat >"$inner" <<INNER
set -e
# Making the prefix is the slow first start: bounded, so that a stuck Wine fails the run.
if ! timeout 300 "$wine" wineboot -i >/dev/null 2>&1; then
  echo "wine_desktop.sh: Wine could not make its prefix" >&2
  exit 1
fi
"$wine" reg add 'HKCU\\Software\\Wine\\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
"$wine" reg add 'HKCU\\Software\\Wine\\Explorer\\Desktops' /v Default /t REG_SZ /d 1024x600 /f >/dev/null 2>&1
timeout 60 wineserver -w || true
set +e
"$wine" "\$@"
status=\$?
wineserver -k 2>/dev/null
exit \$status
INNER
xvfb-run -a -s "-screen 0 1024x768x24" bash "$inner" "$program" "$@"
