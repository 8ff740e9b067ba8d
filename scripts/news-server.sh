#!/usr/bin/env bash
# The local INN news server that ZK News Reader's tests, benchmarks and scripts/run.sh use.
#
#   scripts/news-server.sh start     install INN if missing, configure it for loopback only,
#                                    start it, create the test groups and seed them
#   scripts/news-server.sh stop      stop innd, the authentication port and the TLS port
#   scripts/news-server.sh status    say what runs and where the CA file lies; exit 0 when
#                                    every port greets, 1 otherwise
#   scripts/news-server.sh seed      create the test groups that are missing and seed the
#                                    groups that are not seeded yet
#   scripts/news-server.sh seed-big  also seed zk.test.big with 100,000 articles (some seconds,
#                                    about 110 MB of disk)
#
# ZK_SEED_BIG=1 makes start seed zk.test.big too. Every command is safe to repeat and safe
# while the server runs. It needs root (it re-runs itself through sudo).
#
# What runs:
#   127.0.0.1:119   innd; every reader from 127.0.0.1 is handed to nnrpd: reading needs no
#                   login, posting is allowed to zk.test.post only.
#   127.0.0.1:1119  nnrpd alone, with no default identity: every command answers 480 until
#                   AUTHINFO USER zktest / AUTHINFO PASS zk-test-pass succeeds.
#   127.0.0.1:563   nnrpd alone, TLS from the first byte (NNTPS); readers as on port 119.
#   127.0.0.2       the only feeding peer, used by scripts/news-seed.pl to stream articles in.
# Ports 119 and 1119 offer STARTTLS. The server's certificate (for 127.0.0.1 and localhost)
# is signed by a local CA made once; clients trust it through /etc/news/zk-tls/ca.pem.
# tests/support/newsserver.h carries the same facts for the tests.
set -euo pipefail

readonly HOST=127.0.0.1
readonly PORT=119
readonly AUTH_PORT=1119
readonly TLS_PORT=563
readonly FEED_ADDRESS=127.0.0.2
readonly AUTH_USER=zktest
readonly AUTH_PASSWORD=zk-test-pass

# Name, status in the active file (y: local posting allowed) and description of each group.
readonly TEST_GROUPS=(
  "zk.test.small y Hand-written articles: threads, MIME bodies, attachments, odd headers."
  "zk.test.misc y Everyday chatter from several posters."
  "zk.test.binaries y Uuencoded attachments in their different shapes."
  "zk.test.yenc y yEnc binaries: a file in one block and a file posted in two parts."
  "zk.test.many y 750 generated articles in threads of five."
  "zk.test.big y 100,000 generated articles for the listing benchmark (seed-big)."
  "zk.test.post y Tests post here."
  "zk.test.empty y A group without articles."
  "zk.test.charsets y Articles in many charsets, encoded-word headers, format=flowed."
)

readonly ETC=/etc/news
readonly BIN=/usr/lib/news/bin
readonly RUN=/run/news
readonly DB=/var/lib/news
readonly LOG=/var/log/news
readonly AUTH_READERS=readers-zkauth.conf
readonly AUTH_PASSWD=$ETC/zk-passwd
readonly AUTH_PIDFILE=$RUN/nnrpd-$AUTH_PORT.pid
readonly TLS_PIDFILE=$RUN/nnrpd-$TLS_PORT.pid
readonly TLS_DIR=$ETC/zk-tls
readonly CA_FILE=$TLS_DIR/ca.pem
readonly CA_KEY=$TLS_DIR/ca.key
readonly SERVER_CERT=$TLS_DIR/server.pem
readonly SERVER_KEY=$TLS_DIR/server.key
# The server certificate is made anew when it has less than this left (seconds: 30 days).
readonly CERT_MIN_SECONDS=2592000
readonly GREETING_SECONDS=30
readonly EXIT_SECONDS=30

root_dir=$(cd "$(dirname "$0")/.." && pwd)

say() { echo "news-server: $*"; }
fail() { echo "news-server: $*" >&2; exit 1; }

# --- packages ----------------------------------------------------------------------------

package_status() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true; }
package_installed() { [ "$(package_status "$1")" = "install ok installed" ]; }
package_unpacked() {
  case $(package_status "$1") in
    *" installed" | *" half-configured" | *" unpacked") return 0 ;;
  esac
  return 1
}

# inn2's postinst fails when the host name has no domain part; inn.conf then gets a domain
# and the configuration is finished here.
install_packages() {
  local missing=() apt_log=''
  package_unpacked inn2 || missing+=(inn2)
  package_installed apache2-utils || missing+=(apache2-utils)
  package_installed openssl || missing+=(openssl)
  export DEBIAN_FRONTEND=noninteractive
  if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    apt_log=$(mktemp)
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
      >"$apt_log" 2>&1 || true
  fi
  # dpkg does not bring back a configuration file that was deleted, unless told to.
  if package_unpacked inn2 && [ ! -f "$ETC/inn.conf" ]; then
    say "$ETC/inn.conf is missing; reinstalling inn2-inews, which provides it"
    apt_log=${apt_log:-$(mktemp)}
    apt-get install -y -qq --reinstall -o Dpkg::Options::=--force-confmiss inn2-inews \
      >>"$apt_log" 2>&1 || true
    [ -f "$ETC/inn.conf" ] || { cat "$apt_log" >&2; fail "could not restore $ETC/inn.conf"; }
  fi
  if ! package_unpacked inn2 || ! package_installed apache2-utils ||
    ! package_installed openssl; then
    [ -z "$apt_log" ] || cat "$apt_log" >&2
    fail "could not install inn2, apache2-utils and openssl"
  fi
  rm -f "$apt_log"
  if ! package_installed inn2; then
    stop_servers
    set_inn_conf_key "$ETC/inn.conf" domain zk.test
    local out
    out=$(mktemp)
    if ! dpkg --configure -a >"$out" 2>&1; then
      cat "$out" >&2
      rm -f "$out"
      fail "dpkg --configure -a could not finish configuring inn2"
    fi
    rm -f "$out"
    package_installed inn2 || fail "inn2 is still not configured: $(package_status inn2)"
  fi
}

# --- the machine -------------------------------------------------------------------------

# innd and nnrpd run as news and die when they cannot write /dev/null, whose world write
# bit has been seen to go missing on these machines.
check_dev_null() {
  if [ ! -c /dev/null ]; then
    say "/dev/null is not a character device; INN's daemons cannot run. Recreating it."
    rm -f /dev/null
    mknod -m 666 /dev/null c 1 3
  elif [ "$(stat -c %a /dev/null)" != 666 ]; then
    say "/dev/null has mode $(stat -c %a /dev/null), not 666; INN's daemons, which run as" \
      "news, die on it. Repairing with chmod 666."
    chmod 666 /dev/null
  fi
}

# --- configuration -----------------------------------------------------------------------

# Prints a configuration file with "key: value" set, replacing the key's line or appending.
with_inn_conf_key() {
  local file=$1 key=$2 value=$3
  awk -v key="$key" -v value="$value" '
    BEGIN { line = sprintf("%-29s%s", key ":", value) }
    $0 ~ "^" key ":" { if (!done) print line; done = 1; next }
    { print }
    END { if (!done) print line }' "$file"
}

set_inn_conf_key() {
  local staged
  staged=$(mktemp)
  with_inn_conf_key "$1" "$2" "$3" >"$staged"
  cat "$staged" >"$1"
  rm -f "$staged"
}

inn_conf() {
  local staged=$1 key value
  cp "$ETC/inn.conf" "$staged"
  while read -r key value; do
    with_inn_conf_key "$staged" "$key" "$value" >"$staged.next"
    mv "$staged.next" "$staged"
  done <<EOF
domain zk.test
pathhost news.zk.test
organization "ZK News Reader test server"
bindaddress $HOST
port $PORT
artcutoff 0
nnrpdloadlimit 0
htmlstatus false
doinnwatch false
tlscafile $CA_FILE
tlscertfile $SERVER_CERT
tlskeyfile $SERVER_KEY
EOF
}

incoming_conf() {
  cat <<EOF
# Written by scripts/news-server.sh. The only feeding peer is the seeding tool on the second
# loopback address; every other client, 127.0.0.1 included, is a reader handed to nnrpd.
streaming:       true
max-connections: 8

peer zkseed {
  hostname: "$FEED_ADDRESS"
}
EOF
}

readers_conf() {
  cat <<EOF
# Written by scripts/news-server.sh. Readers on port $PORT from this machine need no login;
# they read every group and post to zk.test.post only.
auth "zkloopback" {
    hosts: "$HOST, ::1"
    default: "<zkreader>"
}

access "zkloopback" {
    users: "<zkreader>"
    read: "*"
    post: "zk.test.post"
}
EOF
}

auth_readers_conf() {
  cat <<EOF
# Written by scripts/news-server.sh for nnrpd on port $AUTH_PORT. No default identity:
# every command answers 480 until AUTHINFO USER/PASS matches $AUTH_PASSWD.
auth "zkpassword" {
    hosts: "$HOST, ::1"
    auth: "ckpasswd -f $AUTH_PASSWD"
}

access "zkpassword" {
    users: "$AUTH_USER"
    read: "*"
    post: "zk.test.post"
}
EOF
}

# zk.test.big's 100,000 articles go into a few CAF files instead of one file each (which
# takes some 400 MB of blocks); the rest stay in plain files, easy to look at.
storage_conf() {
  cat <<'EOF'
# Written by scripts/news-server.sh.
method timecaf {
    newsgroups: zk.test.big
    class: 1
}

method tradspool {
    newsgroups: *
    class: 0
}
EOF
}

# Seeded articles stay: the nightly expiry, where cron runs it, leaves the test groups alone.
expire_ctl() {
  grep -v '^zk\.test\.\*:' "$ETC/expire.ctl"
  echo 'zk.test.*:A:never:never:never'
}

newsgroups_file() {
  local line name flag description
  grep -v '^zk\.test\.' "$DB/newsgroups" 2>/dev/null || true
  for line in "${TEST_GROUPS[@]}"; do
    read -r name flag description <<<"$line"
    printf '%s\t%s\n' "$name" "$description"
  done
}

readonly CONFIG_FILES=(inn.conf incoming.conf readers.conf "$AUTH_READERS" expire.ctl storage.conf)

stage_config() {
  local stage=$1
  inn_conf "$stage/inn.conf"
  incoming_conf >"$stage/incoming.conf"
  readers_conf >"$stage/readers.conf"
  auth_readers_conf >"$stage/$AUTH_READERS"
  expire_ctl >"$stage/expire.ctl"
  storage_conf >"$stage/storage.conf"
}

config_differs() {
  local stage=$1 file
  for file in "${CONFIG_FILES[@]}"; do
    cmp -s "$stage/$file" "$ETC/$file" || return 0
  done
  return 1
}

install_config() {
  local stage=$1
  install -m 644 -o root -g root "$stage/inn.conf" "$ETC/inn.conf"
  install -m 640 -o root -g news "$stage/incoming.conf" "$ETC/incoming.conf"
  install -m 644 -o root -g news "$stage/readers.conf" "$ETC/readers.conf"
  install -m 644 -o root -g news "$stage/$AUTH_READERS" "$ETC/$AUTH_READERS"
  install -m 644 -o root -g root "$stage/expire.ctl" "$ETC/expire.ctl"
  install -m 644 -o root -g root "$stage/storage.conf" "$ETC/storage.conf"
}

# ckpasswd checks crypt(3) hashes: htpasswd -B writes bcrypt ones, which glibc's crypt
# understands (htpasswd's default, Apache's own MD5, it does not). The salt differs on every
# run, so the file is only rewritten when it does not hold the test password.
install_password() {
  if [ ! -f "$AUTH_PASSWD" ] || ! htpasswd -vb "$AUTH_PASSWD" "$AUTH_USER" "$AUTH_PASSWORD" \
    >/dev/null 2>&1; then
    htpasswd -cbB "$AUTH_PASSWD" "$AUTH_USER" "$AUTH_PASSWORD" 2>/dev/null
  fi
  chown root:news "$AUTH_PASSWD"
  chmod 640 "$AUTH_PASSWD"
}

# Writes the configuration; stops the servers first when it changes, since innd and the
# nnrpd daemon read inn.conf and incoming.conf only when they start.
configure() {
  local stage
  stage=$(mktemp -d)
  stage_config "$stage"
  if config_differs "$stage"; then
    stop_servers
    install_config "$stage"
    say "configured INN for $HOST only"
  fi
  rm -rf "$stage"
  install_password
  newsgroups_file >"$DB/newsgroups.zk"
  install -m 644 -o news -g news "$DB/newsgroups.zk" "$DB/newsgroups"
  rm -f "$DB/newsgroups.zk"
}

# --- certificates ------------------------------------------------------------------------

# What openssl needs to make the CA and the server certificate, independent of the
# machine's openssl.cnf.
openssl_conf() {
  cat <<'EOF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = ZK News Reader local test CA
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
}

server_cert_usable() {
  [ -s "$SERVER_CERT" ] && [ -s "$SERVER_KEY" ] &&
    openssl verify -CAfile "$CA_FILE" "$SERVER_CERT" >/dev/null 2>&1 &&
    openssl x509 -in "$SERVER_CERT" -noout -checkend "$CERT_MIN_SECONDS" >/dev/null 2>&1
}

# The CA is made once and kept, so that a client told to trust it keeps trusting the server.
# Its key stays with root; nnrpd reads the server key, which must be readable by news alone.
make_certificates() {
  local conf
  install -d -m 755 -o root -g root "$TLS_DIR"
  conf=$(mktemp)
  openssl_conf >"$conf"
  if [ ! -s "$CA_FILE" ] || [ ! -s "$CA_KEY" ]; then
    say "making the local CA $CA_FILE"
    (umask 077 && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -config "$conf" -extensions ca_ext -days 3650 -keyout "$CA_KEY" -out "$CA_FILE" \
      2>/dev/null) || fail "openssl could not make the CA"
    chmod 644 "$CA_FILE"
    rm -f "$SERVER_CERT"
  fi
  if ! server_cert_usable; then
    # The nnrpd daemons read the certificate only when they start.
    stop_servers
    say "making the server certificate for localhost and $HOST"
    (umask 077 && openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -config "$conf" -subj "/CN=localhost" -keyout "$SERVER_KEY" -out "$TLS_DIR/server.csr" \
      2>/dev/null &&
      openssl x509 -req -in "$TLS_DIR/server.csr" -CA "$CA_FILE" -CAkey "$CA_KEY" \
        -set_serial "0x$(openssl rand -hex 8)" -days 825 -extfile "$conf" \
        -extensions server_ext -out "$SERVER_CERT" 2>/dev/null) ||
      fail "openssl could not make the server certificate"
    rm -f "$TLS_DIR/server.csr"
  fi
  rm -f "$conf"
  chown news:news "$SERVER_KEY" "$SERVER_CERT"
  chmod 600 "$SERVER_KEY"
  chmod 644 "$SERVER_CERT"
}

# --- processes ---------------------------------------------------------------------------

# True while the process exists and has not exited: a daemon's parent is init, which may
# take its time to reap it, and a zombie still answers kill -0.
alive() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# The pid in a pid file when that process runs the named program.
running_pid() {
  local pidfile=$1 program=$2 pid
  [ -f "$pidfile" ] || return 1
  pid=$(cat "$pidfile" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$program" ] || return 1
  alive "$pid" || return 1
  echo "$pid"
}

wait_gone() {
  local pid=$1 deadline=$((SECONDS + $2))
  while alive "$pid"; do
    [ $SECONDS -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# The first line a server sends on the port, without its line end; empty when none comes.
greeting() {
  (
    exec 3<>"/dev/tcp/$HOST/$1" || exit 0
    IFS= read -r -t 5 line <&3 || line=
    printf 'QUIT\r\n' >&3 || true
    printf '%s' "${line%$'\r'}"
  ) 2>/dev/null
}

# Replies of a reader connection to the given commands, one line each (none multi-line).
nntp_replies() {
  local port=$1
  shift
  (
    exec 3<>"/dev/tcp/$HOST/$port" || exit 0
    IFS= read -r -t 5 line <&3 || exit 0
    for command in "$@"; do
      printf '%s\r\n' "$command" >&3
      IFS= read -r -t 5 line <&3 || exit 0
      printf '%s\n' "${line%$'\r'}"
    done
    printf 'QUIT\r\n' >&3 || true
  ) 2>/dev/null
}

# The first line on the TLS port, the certificate verified against the local CA for
# 127.0.0.1; empty when the handshake or the verification fails.
tls_greeting() {
  printf 'QUIT\r\n' | timeout 10 openssl s_client -connect "$HOST:$1" -CAfile "$CA_FILE" \
    -verify_ip "$HOST" -verify_return_error -quiet 2>/dev/null | head -n 1 | tr -d '\r' || true
}

# Waits until the port greets; reader is the function that reads the greeting.
wait_for_greeting() {
  local port=$1 what=$2 reader=${3:-greeting} deadline=$((SECONDS + GREETING_SECONDS)) line
  while :; do
    line=$($reader "$port")
    case $line in
      200\ * | 201\ *) return 0 ;;
    esac
    if [ $SECONDS -ge "$deadline" ]; then
      echo "news-server: $what on $HOST:$port did not greet within $GREETING_SECONDS s" \
        "(last answer: '${line:-none}')" >&2
      show_logs
      return 1
    fi
    sleep 0.2
  done
}

# INN logs to syslog, which these machines lack; innd's own error file catches the rest.
show_logs() {
  local file
  for file in "$LOG/errlog" "$LOG/news.err" "$LOG/news.crit"; do
    if [ -s "$file" ]; then
      echo "--- last lines of $file" >&2
      tail -n 20 "$file" >&2
    fi
  done
}

start_innd() {
  if running_pid "$RUN/innd.pid" innd >/dev/null; then
    return 0
  fi
  install -d -m 775 -o news -g news "$RUN"
  local flags=()
  # A pid file without its process means innd did not shut down cleanly: renumber active.
  if [ -f "$RUN/innd.pid" ]; then
    flags+=(-r)
  fi
  rm -f "$RUN"/LOCK* "$RUN"/ctlinnd* "$RUN/control" "$RUN/nntpin" "$RUN/innd.pid"
  say "starting innd on $HOST:$PORT"
  start-stop-daemon --start --quiet --chuid news:news --exec "$BIN/innd" -- "${flags[@]}" ||
    { show_logs; fail "innd did not start"; }
}

start_auth_nnrpd() {
  if running_pid "$AUTH_PIDFILE" nnrpd >/dev/null; then
    return 0
  fi
  install -d -m 775 -o news -g news "$RUN"
  rm -f "$AUTH_PIDFILE"
  say "starting nnrpd with authentication on $HOST:$AUTH_PORT"
  start-stop-daemon --start --quiet --chuid news:news --pidfile "$AUTH_PIDFILE" \
    --exec "$BIN/nnrpd" -- -D -p "$AUTH_PORT" -b "$HOST" -c "$AUTH_READERS" ||
    fail "nnrpd on port $AUTH_PORT did not start"
}

# Started as root, nnrpd binds the privileged port and then runs as news.
start_tls_nnrpd() {
  if running_pid "$TLS_PIDFILE" nnrpd >/dev/null; then
    return 0
  fi
  install -d -m 775 -o news -g news "$RUN"
  rm -f "$TLS_PIDFILE"
  say "starting nnrpd with TLS (NNTPS) on $HOST:$TLS_PORT"
  start-stop-daemon --start --quiet --pidfile "$TLS_PIDFILE" \
    --exec "$BIN/nnrpd" -- -D -p "$TLS_PORT" -b "$HOST" -S ||
    fail "nnrpd on port $TLS_PORT did not start"
}

# Waits for a stopping process; kills it when it outstays its time.
wait_stopped() {
  local pid=$1 what=$2
  wait_gone "$pid" "$EXIT_SECONDS" && return 0
  say "$what (pid $pid) still runs after $EXIT_SECONDS s; killing it"
  kill -KILL "$pid" 2>/dev/null || true
  wait_gone "$pid" 5 || fail "$what (pid $pid) does not go away"
}

# Both are told to stop before either is waited for: each takes a second or more to go.
# innd gets ctlinnd shutdown, since it notices a plain SIGTERM only much later.
stop_servers() {
  local innd_pid='' nnrpd_pid='' tls_pid=''
  if nnrpd_pid=$(running_pid "$AUTH_PIDFILE" nnrpd); then
    say "stopping nnrpd on port $AUTH_PORT (pid $nnrpd_pid)"
    kill -TERM "$nnrpd_pid" 2>/dev/null || true
  fi
  if tls_pid=$(running_pid "$TLS_PIDFILE" nnrpd); then
    say "stopping nnrpd on port $TLS_PORT (pid $tls_pid)"
    kill -TERM "$tls_pid" 2>/dev/null || true
  fi
  if innd_pid=$(running_pid "$RUN/innd.pid" innd); then
    say "stopping innd (pid $innd_pid)"
    runuser -u news -- "$BIN/ctlinnd" -s -t 20 shutdown "news-server.sh stop" ||
      kill -TERM "$innd_pid" 2>/dev/null || true
  fi
  [ -z "$nnrpd_pid" ] || wait_stopped "$nnrpd_pid" "nnrpd on port $AUTH_PORT"
  [ -z "$tls_pid" ] || wait_stopped "$tls_pid" "nnrpd on port $TLS_PORT"
  [ -z "$innd_pid" ] || wait_stopped "$innd_pid" innd
  rm -f "$AUTH_PIDFILE" "$TLS_PIDFILE"
}

# --- groups and articles -----------------------------------------------------------------

create_groups() {
  local line name flag description
  for line in "${TEST_GROUPS[@]}"; do
    read -r name flag description <<<"$line"
    if ! awk -v name="$name" '$1 == name { found = 1 } END { exit !found }' "$DB/active"; then
      runuser -u news -- "$BIN/ctlinnd" -s newgroup "$name" "$flag" news-server.sh ||
        fail "could not create $name"
    fi
  done
}

seed() {
  local flags=()
  if [ "${1:-}" = big ] || [ "${ZK_SEED_BIG:-0}" = 1 ]; then
    flags+=(--big)
  fi
  perl "$root_dir/scripts/news-seed.pl" --host "$HOST" --port "$PORT" \
    --feed-address "$FEED_ADDRESS" "${flags[@]}"
}

# --- commands ----------------------------------------------------------------------------

command_start() {
  check_dev_null
  install_packages
  make_certificates
  configure
  start_innd
  wait_for_greeting "$PORT" innd
  start_auth_nnrpd
  wait_for_greeting "$AUTH_PORT" "nnrpd with authentication"
  start_tls_nnrpd
  wait_for_greeting "$TLS_PORT" "nnrpd with TLS" tls_greeting
  create_groups
  seed
  say "ready: $HOST:$PORT (readers), $HOST:$AUTH_PORT (AUTHINFO $AUTH_USER), both with" \
    "STARTTLS, and $HOST:$TLS_PORT (TLS); the CA to trust is $CA_FILE"
}

command_status() {
  local result=0 pid line name flag description
  if pid=$(running_pid "$RUN/innd.pid" innd); then
    echo "innd: running (pid $pid); $HOST:$PORT says: $(greeting "$PORT")"
  else
    echo "innd: not running"
    result=1
  fi
  if pid=$(running_pid "$AUTH_PIDFILE" nnrpd); then
    echo "nnrpd: running (pid $pid); $HOST:$AUTH_PORT says: $(greeting "$AUTH_PORT")"
  else
    echo "nnrpd on port $AUTH_PORT: not running"
    result=1
  fi
  if pid=$(running_pid "$TLS_PIDFILE" nnrpd); then
    echo "nnrpd: running (pid $pid); $HOST:$TLS_PORT says over TLS: $(tls_greeting "$TLS_PORT")"
  else
    echo "nnrpd on port $TLS_PORT (TLS): not running"
    result=1
  fi
  echo "TLS: ports $PORT and $AUTH_PORT offer STARTTLS, port $TLS_PORT is TLS from the start;" \
    "the CA to trust is $CA_FILE"
  case $(greeting "$PORT") in 200\ * | 201\ *) ;; *) result=1 ;; esac
  case $(greeting "$AUTH_PORT") in 200\ * | 201\ *) ;; *) result=1 ;; esac
  case $(tls_greeting "$TLS_PORT") in 200\ * | 201\ *) ;; *) result=1 ;; esac
  if [ $result -eq 0 ]; then
    local commands=()
    for line in "${TEST_GROUPS[@]}"; do
      read -r name flag description <<<"$line"
      commands+=("GROUP $name")
    done
    nntp_replies "$PORT" "${commands[@]}" | sed 's/^/group: /'
  fi
  return $result
}

command_seed() {
  check_dev_null
  case $(greeting "$PORT") in
    200\ * | 201\ *) ;;
    *) fail "the news server is not running; start it with scripts/news-server.sh start" ;;
  esac
  create_groups
  seed "$@"
}

main() {
  local command=${1:-}
  case $command in
    start | stop | status | seed | seed-big) ;;
    *)
      echo "usage: $0 start | stop | status | seed | seed-big" >&2
      exit 2
      ;;
  esac
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || fail "run as root (sudo is not installed)"
    exec sudo --preserve-env=ZK_SEED_BIG bash "$0" "$@"
  fi
  case $command in
    start) command_start ;;
    stop) stop_servers ;;
    status) command_status ;;
    seed) command_seed ;;
    seed-big) command_seed big ;;
  esac
}

main "$@"
