#!/usr/bin/env bash
# A private CUPS scheduler: its own configuration, spool, cache, state and logs inside one
# folder, listening only on 127.0.0.1, no browsing, no sharing. Printing tests share one;
# the run script of the label designer starts one for a session without a real printer.
#
#   cups-private.sh start DIR [PORT]   start it; PORT absent or 0 picks a free port.
#                                      Prints the CUPS_SERVER value (127.0.0.1:PORT) and
#                                      writes it to DIR/server.
#   cups-private.sh stop DIR           stop it (the logs stay in DIR/log).
#   cups-private.sh status DIR         exit status 0 when it answers.
#
# Option --skip-if-missing (before the command): when cupsd or lpadmin is not installed,
# write the reason to DIR/unavailable and exit 0, so that tests can say why they skip.
#
# DIR is created if needed. A folder that holds anything else is refused: start only
# ever clears what an earlier start left there.
set -euo pipefail

skip_if_missing=0
if [ "${1:-}" = "--skip-if-missing" ]; then
  skip_if_missing=1
  shift
fi

usage() {
  echo "usage: $0 [--skip-if-missing] start DIR [PORT] | stop DIR | status DIR" >&2
  exit 2
}

[ $# -ge 2 ] || usage
command_name="$1"
dir_arg="$2"
port_arg="${3:-0}"

marker=".cups-private"
# Everything start writes into DIR; only these are ever removed.
owned_entries=(cupsd.conf cupsd.conf.O cups-files.conf printers.conf printers.conf.O
               classes.conf classes.conf.O subscriptions.conf subscriptions.conf.O printcap
               ppd ssl spool cache state log home server cupsd.pid unavailable
               external-spool)

die() {
  echo "cups-private: $*" >&2
  exit 1
}

absolute_dir() {
  mkdir -p "$1"
  (cd "$1" && pwd -P)
}

pid_alive_cupsd() {
  local pid="$1"
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null &&
    [ "$(cat "/proc/$pid/comm" 2>/dev/null || true)" = "cupsd" ]
}

# lpstat -r exits 0 either way; only its text tells, in English whatever the locale.
answers() {
  local server="$1"
  [ "$(LC_ALL=C CUPS_SERVER="$server" HOME="$dir/home" lpstat -r 2>/dev/null)" = "scheduler is running" ]
}

port_in_use() {
  ss -Hltn "sport = :$1" 2>/dev/null | grep -q . && return 0
  return 1
}

stop_server() {
  local pid=""
  [ -f "$dir/cupsd.pid" ] && pid="$(cat "$dir/cupsd.pid")"
  if pid_alive_cupsd "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      pid_alive_cupsd "$pid" || break
      sleep 0.1
    done
    if pid_alive_cupsd "$pid"; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$dir/cupsd.pid" "$dir/server"
  if [ -f "$dir/external-spool" ]; then
    local ext
    ext="$(cat "$dir/external-spool")"
    case "$ext" in
      /tmp/cups-private.*) rm -rf "$ext" ;;
    esac
    rm -f "$dir/external-spool"
  fi
}

check_folder_is_ours() {
  if [ -n "$(ls -A "$dir")" ] && [ ! -f "$dir/$marker" ]; then
    die "$dir holds other files; give an empty folder or one an earlier start made"
  fi
}

write_config() {
  local port="$1" user="$2" group="$3" system_group="$4" spool="$5"
  cat >"$dir/cups-files.conf" <<EOF
# Written by cups-private.sh: everything stays inside this folder.
ServerRoot $dir
RequestRoot $spool
TempDir $spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
Printcap $dir/printcap
User $user
Group $group
SystemGroup $system_group
LogFileGroup $group
FileDevice Yes
Sandboxing Relaxed
EOF
  cat >"$dir/cupsd.conf" <<EOF
# Written by cups-private.sh: loopback only, no browsing, no sharing, no authentication.
LogLevel warn
MaxLogSize 0
Listen 127.0.0.1:$port
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
DefaultAuthType None
# A printer that cannot be reached loses that job only; the queue stays enabled.
ErrorPolicy abort-job
PreserveJobHistory No
PreserveJobFiles No
<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
}

# Filters and backends run as an unprivileged user (cupsd refuses uid 0 for them); as
# root that is lp when it exists. Without root, cupsd cannot switch users and runs them
# as the caller.
choose_users() {
  if [ "$(id -u)" -eq 0 ]; then
    if getent passwd lp >/dev/null && getent group lp >/dev/null; then
      echo "lp lp root"
    elif getent passwd daemon >/dev/null && getent group daemon >/dev/null; then
      echo "daemon daemon root"
    else
      echo "nobody nogroup root"
    fi
  else
    echo "$(id -un) $(id -gn) $(id -gn)"
  fi
}

start_server() {
  if ! command -v cupsd >/dev/null 2>&1 || ! command -v lpadmin >/dev/null 2>&1 ||
     ! command -v lpstat >/dev/null 2>&1; then
    local why="cupsd, lpadmin or lpstat is not installed (Debian packages cups, cups-client)"
    if [ "$skip_if_missing" -eq 1 ]; then
      check_folder_is_ours
      touch "$dir/$marker"
      echo "$why" >"$dir/unavailable"
      echo "cups-private: $why; printing tests will skip" >&2
      exit 0
    fi
    die "$why"
  fi
  check_folder_is_ours
  stop_server
  local entry
  for entry in "${owned_entries[@]}"; do
    rm -rf "${dir:?}/$entry"
  done
  touch "$dir/$marker"
  chmod 755 "$dir"

  local user group system_group
  read -r user group system_group < <(choose_users)

  # The backend reads the spooled document as $user: when it cannot reach DIR (a parent
  # folder closed to others), the spool goes to a folder of its own under /tmp.
  local spool="$dir/spool"
  if [ "$(id -u)" -eq 0 ] && ! runuser -u "$user" -- test -x "$dir" 2>/dev/null; then
    spool="$(mktemp -d /tmp/cups-private.XXXXXX)"
    chmod 755 "$spool"
    echo "$spool" >"$dir/external-spool"
  fi
  mkdir -p "$spool/tmp" "$dir/cache" "$dir/state" "$dir/log" "$dir/ppd" "$dir/ssl" "$dir/home"

  local attempts=1
  if [ "$port_arg" = "0" ]; then
    attempts=20
  fi
  local try port pid server
  for try in $(seq "$attempts"); do
    if [ "$port_arg" = "0" ]; then
      # Below the kernel's ephemeral range, so that no outgoing connection holds it.
      port=$((20000 + (RANDOM * 32768 + RANDOM) % 12000))
      port_in_use "$port" && continue
    else
      port="$port_arg"
    fi
    write_config "$port" "$user" "$group" "$system_group" "$spool"
    : >"$dir/log/error_log"
    setsid cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" \
      </dev/null >>"$dir/log/cupsd.out" 2>&1 &
    pid=$!
    echo "$pid" >"$dir/cupsd.pid"
    server="127.0.0.1:$port"
    for _ in $(seq 150); do
      if ! kill -0 "$pid" 2>/dev/null; then
        break
      fi
      if answers "$server"; then
        echo "$server" >"$dir/server"
        echo "$server"
        return 0
      fi
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      rm -f "$dir/cupsd.pid"
      die "cupsd did not answer on $server within 15 s; see $dir/log/error_log"
    fi
    wait "$pid" 2>/dev/null || true
    rm -f "$dir/cupsd.pid"
    if grep -q -i "unable to bind\|address already in use" "$dir/log/error_log" "$dir/log/cupsd.out" 2>/dev/null &&
       [ "$port_arg" = "0" ]; then
      continue
    fi
    echo "cups-private: cupsd stopped during start-up (try $try):" >&2
    tail -n 20 "$dir/log/error_log" "$dir/log/cupsd.out" >&2 || true
    exit 1
  done
  die "no free port found for cupsd after $attempts tries"
}

dir="$(absolute_dir "$dir_arg")"
case "$command_name" in
  start)
    case "$port_arg" in
      ''|*[!0-9]*) usage ;;
    esac
    start_server
    ;;
  stop)
    if [ -f "$dir/$marker" ]; then
      stop_server
    fi
    ;;
  status)
    [ -f "$dir/server" ] && answers "$(cat "$dir/server")"
    ;;
  *)
    usage
    ;;
esac
