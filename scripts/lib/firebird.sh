# Starts the local Firebird 3 server without systemd and exports what the tests need.
# Source it, then call start_firebird.

start_firebird() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if ! pgrep -x firebird >/dev/null 2>&1; then
    $sudo mkdir -p /run/firebird3.0
    $sudo chown firebird:firebird /run/firebird3.0
    $sudo su -s /bin/sh firebird -c '/usr/sbin/fbguard -daemon -forever'
  fi
  # Wait until the server accepts connections on its port.
  local i
  for i in $(seq 1 50); do
    if (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; then
      break
    fi
    sleep 0.2
  done
  export DOVRA_TEST_FB_USER=SYSDBA
  export DOVRA_TEST_FB_PASSWORD
  DOVRA_TEST_FB_PASSWORD=$($sudo sh -c '. /etc/firebird/3.0/SYSDBA.password; printf %s "$ISC_PASSWORD"')
  # Databases live where the firebird user can write.
  export DOVRA_TEST_DB_DIR=/var/tmp/dovra-test-db
  $sudo mkdir -p "$DOVRA_TEST_DB_DIR"
  $sudo chmod 1777 "$DOVRA_TEST_DB_DIR"
}
