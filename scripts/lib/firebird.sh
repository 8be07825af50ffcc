# Starts the local Firebird 3 server without systemd and exports what the tests need:
#   DOVRA_TEST_FB_USER, DOVRA_TEST_FB_PASSWORD  the suite's own account on the local server
#   DOVRA_TEST_DB_DIR                           a folder the server's user can write
# Source it, then call start_firebird. A server that already runs (it may be shared with
# other users of the machine) is used as it is and never stopped.
#
# The suites, benchmarks and demos log in with an account of their own, DOVRA_TESTE, with a
# fixed password whose scrambled form the settings file keeps as it is: the password the
# Firebird package gave SYSDBA is random, and about one in fifteen cannot be stored there.
# The account is made (or its password put back) only when the server refuses it; that is
# the only use of the SYSDBA password. Nothing else of the server is changed.

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

  # Databases live where the firebird user can write.
  export DOVRA_TEST_DB_DIR="${DOVRA_TEST_DB_DIR:-/var/tmp/dovra-test-db}"
  $sudo mkdir -p "$DOVRA_TEST_DB_DIR"
  $sudo chmod 1777 "$DOVRA_TEST_DB_DIR"

  export DOVRA_TEST_FB_USER=DOVRA_TESTE
  export DOVRA_TEST_FB_PASSWORD=dovrateste
  if ! firebird_account_works "$DOVRA_TEST_FB_USER" "$DOVRA_TEST_FB_PASSWORD"; then
    make_test_account "$password_file" || return 1
  fi
  if ! firebird_account_works "$DOVRA_TEST_FB_USER" "$DOVRA_TEST_FB_PASSWORD"; then
    echo "start_firebird: the server refuses $DOVRA_TEST_FB_USER after it was made" >&2
    return 1
  fi

}

# firebird_account_works USER PASSWORD: the server's service manager takes the account.
firebird_account_works() {
  fbsvcmgr localhost:service_mgr -user "$1" -password "$2" info_server_version \
    >/dev/null 2>&1
}

# make_test_account PASSWORD_FILE: makes DOVRA_TESTE with the admin role (or gives it back
# its password), logged in as the SYSDBA account the package wrote into PASSWORD_FILE.
make_test_account() {
  local password_file=$1 sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if ! $sudo test -r "$password_file"; then
    echo "start_firebird: $password_file is missing; run dpkg-reconfigure firebird3.0" >&2
    return 1
  fi
  local admin admin_password
  admin=$($sudo sh -c ". '$password_file'; printf %s \"\${ISC_USER:-SYSDBA}\"")
  admin_password=$($sudo sh -c ". '$password_file'; printf %s \"\$ISC_PASSWORD\"")
  if ! firebird_account_works "$admin" "$admin_password"; then
    echo "start_firebird: the server refuses $admin with the password of $password_file," \
      "so the suite's account $DOVRA_TEST_FB_USER cannot be made" >&2
    return 1
  fi
  local action=action_add_user
  if fbsvcmgr localhost:service_mgr -user "$admin" -password "$admin_password" \
      action_display_user sec_username "$DOVRA_TEST_FB_USER" 2>/dev/null |
      grep -qi "$DOVRA_TEST_FB_USER"; then
    action=action_modify_user
  fi
  fbsvcmgr localhost:service_mgr -user "$admin" -password "$admin_password" "$action" \
    sec_username "$DOVRA_TEST_FB_USER" sec_password "$DOVRA_TEST_FB_PASSWORD" sec_admin 1 ||
    return 1
  # The tests make and restore databases of their own: the account may create them. The
  # grant lives in the server's user database, which takes no remote attachment, so it is
  # given from a scratch database through the server's own connection to it.
  local scratch script
  scratch="$DOVRA_TEST_DB_DIR/account-$$.fdb"
  script=$(mktemp)
  cat > "$script" <<SQL
CREATE DATABASE 'localhost:$scratch' USER '$admin' PASSWORD '$admin_password';
SET TERM ^;
EXECUTE BLOCK AS BEGIN
  EXECUTE STATEMENT 'GRANT CREATE DATABASE TO USER $DOVRA_TEST_FB_USER'
    WITH AUTONOMOUS TRANSACTION ON EXTERNAL 'security.db'
    AS USER '$admin' PASSWORD '$admin_password';
END^
SET TERM ;^
COMMIT;
DROP DATABASE;
SQL
  local status=0
  isql-fb -q -b -i "$script" >/dev/null || status=$?
  rm -f "$script"
  if [ "$status" -ne 0 ]; then
    echo "start_firebird: $DOVRA_TEST_FB_USER could not be allowed to create databases" >&2
    return 1
  fi
}
