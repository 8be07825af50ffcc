# install_packages PACKAGE...: installs the Debian packages that are not installed yet.
# Safe to call again: apt-get runs only when something is missing.
install_packages() {
  local missing=() p sudo=""
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  ((${#missing[@]})) || return 0
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "$(basename "$0"): installing ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
