#!/usr/bin/env bash
# Runs one command inside a private D-Bus session bus with its own runtime, home, config and data
# folders, so that nothing touches the user's real keyring.
#   keyring-session.sh [--no-keyring] command [args...]
# By default a gnome-keyring daemon serves the Secret Service there, unlocked with a non-empty
# password (an empty one leaves no login keyring, and the first store waits on a dialog forever).
# With --no-keyring the bus stays empty and activates nothing.
# Everything started here is stopped on exit: the recorded PIDs, then any process that carries this
# session's private XDG_RUNTIME_DIR in its environment.
set -euo pipefail

mode=keyring
if [ "${1:-}" = "--no-keyring" ]; then
  mode=none
  shift
fi
if [ $# -lt 1 ]; then
  echo "usage: $0 [--no-keyring] command [args...]" >&2
  exit 2
fi

base="$(mktemp -d "${TMPDIR:-/tmp}/corvane-keyring.XXXXXX")"
pids=()

in_session() {  # true when PID $1 runs with this session's runtime dir
  { tr '\0' '\n' <"/proc/$1/environ"; } 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
}

cleanup() {
  local status=$? pid stragglers=()
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for dir in /proc/[0-9]*; do
    pid="${dir#/proc/}"
    [ "$pid" = "$$" ] && continue
    in_session "$pid" && stragglers+=("$pid")
  done
  for pid in "${stragglers[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for _ in $(seq 1 20); do
    local alive=0
    for pid in "${pids[@]}" "${stragglers[@]}"; do
      kill -0 "$pid" 2>/dev/null && alive=1
    done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}" "${stragglers[@]}"; do
    kill -KILL "$pid" 2>/dev/null || true
  done
  rm -rf "$base"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

export XDG_RUNTIME_DIR="$base/run" HOME="$base/home" XDG_CONFIG_HOME="$base/config"
export XDG_DATA_HOME="$base/data" XDG_STATE_HOME="$base/state" XDG_CACHE_HOME="$base/cache"
mkdir -p "$XDG_RUNTIME_DIR" "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
# No display: a keyring prompt must fail at once instead of opening a window somewhere.
unset DISPLAY WAYLAND_DISPLAY GNOME_KEYRING_CONTROL SSH_AUTH_SOCK DBUS_SESSION_BUS_PID

# Tests that talk to a keyring check this before they touch anything.
export CORVANE_KEYRING_SESSION="$mode"

# A session bus that activates nothing: only what this script starts is on it.
cat >"$base/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
{
  read -r DBUS_SESSION_BUS_ADDRESS
  read -r bus_pid
} < <(dbus-daemon --config-file="$base/bus.conf" --fork --print-address=1 --print-pid=1)
pids+=("$bus_pid")
export DBUS_SESSION_BUS_ADDRESS

bus_call() {
  dbus-send --session --print-reply --reply-timeout=1000 "$@" 2>/dev/null
}

if [ "$mode" = keyring ]; then
  printf '%s' "corvane-test-keyring" |
    gnome-keyring-daemon --foreground --unlock --components=secrets >"$base/keyring.log" 2>&1 &
  pids+=("$!")
  ready=0
  for _ in $(seq 1 100); do
    # Ready once the daemon owns the Secret Service name and the unlocked login keyring is the default.
    if bus_call --dest=org.freedesktop.secrets /org/freedesktop/secrets \
         org.freedesktop.Secret.Service.ReadAlias string:default | grep -q 'object path "/org/freedesktop/secrets/collection/'; then
      ready=1
      break
    fi
    sleep 0.1
  done
  if [ "$ready" != 1 ]; then
    echo "keyring-session: gnome-keyring did not come up" >&2
    cat "$base/keyring.log" >&2 || true
    exit 1
  fi
fi

"$@"
