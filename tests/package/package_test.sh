#!/usr/bin/env bash
# The Debian package, driven through the real tools: cpack, dpkg-deb, systemd-analyze and,
# as root, dpkg -i and the installed program.
#
#   package_test.sh contents BUILD   the packages build (backupdovra, whose dependencies
#                                    hold no Qt or X library, and backupdovra-desktop), with
#                                    their files and dependencies
#   package_test.sh unit BUILD       systemd-analyze verify accepts the service unit
#   package_test.sh install BUILD    installs it, runs the installed binaries, sets up an
#                                    installation as the service user and starts from it,
#                                    then removes it (root only; exit 77 = skipped)
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/dovra-package.XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

make_package() {
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
  deb=$(ls "$work"/out/backupdovra_*.deb)
  desktop_deb=$(ls "$work"/out/backupdovra-desktop_*.deb)
}

# has_depends DEB NAME...: each NAME is one of the package's dependencies.
has_depends() {
  local deb=$1 depends
  shift
  depends=$(dpkg-deb -f "$deb" Depends)
  for d in "$@"; do
    tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//' | grep -qxF "$d" ||
      fail "$(dpkg-deb -f "$deb" Package) Depends lacks $d: $depends"
  done
}

# has_files DEB PATH...: the package holds each PATH.
has_files() {
  local deb=$1
  shift
  dpkg-deb -c "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' >"$work/files"
  for f in "$@"; do
    grep -qxF "$f" "$work/files" || fail "$(dpkg-deb -f "$deb" Package) lacks $f"
  done
}

# verify prints every problem it finds (also unknown keys, which it only warns about), so
# any output fails the test.
verify_unit() {
  local out
  if ! out=$(systemd-analyze verify --man=no "$1" 2>&1) || [ -n "$out" ]; then
    echo "$out" >&2
    fail "systemd-analyze verify $1"
  fi
}

case "$mode" in
contents)
  make_package
  version=$(dpkg-deb -f "$deb" Version)
  [ "$version" = "$("$build/backupdovra" --version | cut -d' ' -f2)" ] ||
    fail "package version $version is not the program's version"
  has_depends "$deb" libfbclient2 libc6 libstdc++6 libcurl4 libpugixml1v5 zlib1g
  # A server's package: nothing of Qt, X or a desktop.
  if dpkg-deb -f "$deb" Depends | grep -Eio 'libqt[^,]*|libx[^,]*|libgl[^,]*|wayland[^,]*'; then
    fail "backupdovra depends on a desktop library: $(dpkg-deb -f "$deb" Depends)"
  fi
  has_files "$deb" ./usr/bin/backupdovra ./usr/bin/dovra-zlib \
    ./usr/share/man/man1/backupdovra.1 ./usr/share/man/man1/dovra-zlib.1 \
    "./usr/lib/systemd/system/backupdovra@.service"
  has_depends "$desktop_deb" libqt6widgets6 backupdovra
  dpkg-deb -f "$desktop_deb" Depends | grep -qF "backupdovra (= $version)" ||
    fail "backupdovra-desktop does not depend on this version of backupdovra"
  has_files "$desktop_deb" ./usr/lib/backupdovra/backupdovra-desktop.so \
    "./usr/share/backupdovra/BackUp Dovra.desktop"
  dpkg-deb -e "$deb" "$work/control"
  for s in postinst prerm; do
    [ -x "$work/control/$s" ] || fail "$s is not in the package"
    sh -n "$work/control/$s" || fail "$s is not valid sh"
  done
  ;;
unit)
  make_package
  dpkg-deb -x "$deb" "$work/root"
  unit="$work/root/usr/lib/systemd/system/backupdovra@.service"
  grep -qx "RestartPreventExitStatus=1 2" "$unit" || fail "the unit restarts after status 1"
  grep -qx "Restart=on-failure" "$unit" || fail "the unit is not restarted on failure"
  # The unit as it is, with ExecStart pointing at the unpacked binary (nothing installed).
  mkdir "$work/units"
  sed "s|^ExecStart=/usr/bin/backupdovra|ExecStart=$work/root/usr/bin/backupdovra|" "$unit" \
    >"$work/units/backupdovra@.service"
  verify_unit "$work/units/backupdovra@LOJA.service"
  ;;
install)
  if [ "$(id -u)" -ne 0 ]; then
    echo "not root: the package is not installed"
    exit 77
  fi
  if dpkg-query -W -f='${Status}' backupdovra 2>/dev/null | grep -q "install ok installed"; then
    echo "a backupdovra package is already installed here: left alone"
    exit 77
  fi
  make_package
  id=PKGTEST$$
  home=/var/lib/backupdovra/$id
  cleanup() {
    dpkg --purge backupdovra-desktop backupdovra >/dev/null 2>&1 || true
    rm -rf "$home" "$work"
  }
  for _ in $(seq 60); do # another apt-get or dpkg may hold the lock for a while
    if dpkg -i "$deb" "$desktop_deb" >"$work/dpkg.log" 2>&1; then break; fi
    grep -q "lock" "$work/dpkg.log" || { cat "$work/dpkg.log" >&2; fail "dpkg -i"; }
    sleep 2
  done
  dpkg-query -W -f='${Status}' backupdovra | grep -q "install ok installed" ||
    { cat "$work/dpkg.log" >&2; fail "dpkg -i"; }
  [ "$(/usr/bin/backupdovra --version)" = "$("$build/backupdovra" --version)" ] ||
    fail "installed backupdovra --version"
  /usr/bin/dovra-zlib --version | grep -qx "dovra-zlib [0-9.]*" || fail "dovra-zlib --version"
  verify_unit "/usr/lib/systemd/system/backupdovra@$id.service"
  getent passwd backupdovra >/dev/null || fail "the service user was not made"
  if getent group firebird >/dev/null; then
    id -nG backupdovra | grep -qw firebird || fail "the service user is not in group firebird"
  fi
  set +e
  /usr/bin/backupdovra --no-such-option 2>"$work/err"
  status=$?
  set -e
  [ "$status" -eq 64 ] && [ "$(wc -l <"$work/err")" -eq 1 ] || fail "unknown argument: $status"

  # As the README does it: --setup as the service user into the service's folder.
  as_service() {
    runuser -u backupdovra -- env DOVRA_PROGRAM_DIR="$home" DOVRA_WINDOWS_DIR="$home" \
      XDG_RUNTIME_DIR="$work/run" "$@"
  }
  install -d -o backupdovra -m 0700 "$work/run"
  chmod 0711 "$work"
  as_service /usr/bin/backupdovra --setup "$id" --database ERP.FDB --backup-folder "$home/bkp" \
    >"$work/setup.log" 2>&1 || { cat "$work/setup.log" >&2; fail "--setup"; }
  [ -f "$home/CONFIGURACAO/application.dvk" ] && [ -f "$home/$id.dvk" ] || fail "--setup files"
  # The installed program, headless with no input as the service runs it, finds its
  # settings by the identifier: a location without a folder stops the start sequence with
  # its message (and not with the missing-identifier or missing-settings one).
  set +e
  as_service timeout --preserve-status -s TERM 6 /usr/bin/backupdovra --headless </dev/null >"$work/events" 2>&1
  status=$?
  set -e
  grep -q '"text":"Caminho do banco não encontrado, verifique o confvarde"' "$work/events" ||
    { cat "$work/events" >&2; fail "the program did not start from the --setup files"; }
  if grep -q 'File not found\|não foi encontrado!' "$work/events"; then
    cat "$work/events" >&2
    fail "the program did not find the --setup files"
  fi
  [ "$status" -eq 0 ] || fail "SIGTERM did not end the program with 0 (status $status)"

  # On a display the installed program opens its windows through the desktop package, and
  # without that package it runs headless and says so.
  tray_run() {
    set +e
    as_service env QT_QPA_PLATFORM=offscreen timeout -s TERM 4 /usr/bin/backupdovra \
      </dev/null >"$work/tray.out" 2>"$work/tray.err"
    set -e
  }
  tray_run
  if grep -q "running headless" "$work/tray.err" || grep -q '"event"' "$work/tray.out"; then
    cat "$work/tray.err" >&2
    fail "the installed program did not load its desktop front end"
  fi
  dpkg -r backupdovra-desktop >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -r"; }
  tray_run
  grep -q "backupdovra-desktop.so) is not installed; running headless" "$work/tray.err" &&
    grep -q '"event":"hint"' "$work/tray.out" ||
    { cat "$work/tray.err" >&2; fail "without the desktop package the program did not run headless"; }
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
echo "ok: $mode"
