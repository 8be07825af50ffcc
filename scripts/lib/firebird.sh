# Starts the local Firebird 3 server without systemd and exports what the tests need:
#   DOVRA_TEST_FB_USER, DOVRA_TEST_FB_PASSWORD  the SYSDBA account of the local server
#   DOVRA_TEST_DB_DIR                           a folder the server's user can write
# Source it, then call start_firebird. A server that already runs (it may be shared with
# other users of the machine) is used as it is and never stopped.

start_firebird() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  local conf_dir=/etc/firebird/3.0
  local password_file="$conf_dir/SYSDBA.password"

  if ! pgrep -x firebird >/dev/null 2>&1; then
    if [ ! -x /usr/sbin/fbguard ]; then
      echo "start_firebird: /usr/sbin/fbguard is missing; run scripts/deps" >&2
      return 1
    fi
    $sudo mkdir -p /run/firebird3.0
    $sudo chown firebird:firebird /run/firebird3.0
    $sudo su -s /bin/sh firebird -c '/usr/sbin/fbguard -daemon -forever'
  fi

  # Wait until the server accepts connections on its port.
  local i ready=""
  for i in $(seq 1 100); do
    if (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; then
      ready=1
      break
    fi
    sleep 0.2
  done
  if [ -z "$ready" ]; then
    echo "start_firebird: the Firebird server does not answer on 127.0.0.1:3050" >&2
    return 1
  fi

  if ! $sudo test -r "$password_file"; then
    echo "start_firebird: $password_file is missing; run dpkg-reconfigure firebird3.0" >&2
    return 1
  fi
  local user password
  user=$($sudo sh -c ". '$password_file'; printf %s \"\${ISC_USER:-SYSDBA}\"")
  password=$($sudo sh -c ". '$password_file'; printf %s \"\$ISC_PASSWORD\"")
  export DOVRA_TEST_FB_USER
  DOVRA_TEST_FB_USER=$(printf %s "$user" | tr '[:lower:]' '[:upper:]')
  export DOVRA_TEST_FB_PASSWORD="$password"

  # The account must open the service manager; a wrong password fails here, not in
  # every test.
  if command -v fbsvcmgr >/dev/null 2>&1; then
    if ! fbsvcmgr localhost:service_mgr -user "$DOVRA_TEST_FB_USER" \
        -password "$DOVRA_TEST_FB_PASSWORD" info_server_version >/dev/null; then
      echo "start_firebird: the server refuses $DOVRA_TEST_FB_USER with the password of" \
        "$password_file" >&2
      return 1
    fi
  fi

  # Databases live where the firebird user can write.
  export DOVRA_TEST_DB_DIR="${DOVRA_TEST_DB_DIR:-/var/tmp/dovra-test-db}"
  $sudo mkdir -p "$DOVRA_TEST_DB_DIR"
  $sudo chmod 1777 "$DOVRA_TEST_DB_DIR"
}
