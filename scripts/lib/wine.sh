# A throw-away Wine prefix for the Windows program and its tests, and the test client
# library that lets it reach the local Firebird server. Source it, then:
#   make_wine_prefix [DIR]   makes $WINEPREFIX with its first start bounded and exports
#                            WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES; without DIR a new
#                            folder under $TMPDIR, removed when the shell exits; with DIR
#                            that folder, made anew and kept (its Wine server is stopped)
#   use_wine_fbclient DIR    exports WINEDLLPATH and WINEPATH for the test client library
#                            built in DIR (build-windows/wine-fbclient)
# Sets `wine` and `wineserver` to the 64-bit loader and server.
#
# The database server runs as its own user and writes the backups and databases into the
# Windows folders: the prefix is open to every user to look into, and the programs run with
# umask 0 so that every folder they make is writable by the server (Windows has no mode
# bits for the program to set).

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

make_wine_prefix() {
  if [ -n "${1:-}" ]; then
    rm -rf "$1"
    mkdir -p "$1"
    WINEPREFIX=$(cd "$1" && pwd)
    trap '"$wineserver" -k 2>/dev/null || true' EXIT
  else
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/dovra-wine.XXXXXX")
    trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
  fi
  chmod 755 "$WINEPREFIX"
  export WINEPREFIX WINEDEBUG=-all
  # No Mono or Gecko installer: the programs need neither, and their prompt would wait.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  umask 0
  # Making the prefix is the slow first start; it gets a bound of its own so that a Wine
  # that cannot finish it fails the run instead of holding it.
  if ! timeout 300 "$wine" wineboot -i >/dev/null 2>&1; then
    echo "$(basename "$0"): Wine could not make its prefix in $WINEPREFIX" >&2
    return 1
  fi
  timeout 60 "$wineserver" -w || true
  chmod 755 "$WINEPREFIX/drive_c"
}

use_wine_fbclient() {
  local dir=$1
  if [ ! -f "$dir/gds32.dll.so" ] || [ ! -f "$dir/fbclient.dll.so" ]; then
    echo "$(basename "$0"): the test client library is not built in $dir" >&2
    return 1
  fi
  export WINEDLLPATH="$dir" WINEPATH="Z:$dir"
}
