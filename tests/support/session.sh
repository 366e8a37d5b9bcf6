#!/usr/bin/env bash
# Runs a command inside a fresh, private, headless desktop session and tears it down afterwards:
# Xvfb, a private D-Bus session bus, the AT-SPI accessibility bus (enabled), openbox, a tray host and
# an unlocked gnome-keyring. Nothing of the caller's desktop is used or touched.
#
#   session.sh [--no-a11y] [--no-keyring] [--no-wm] [--no-tray] [--no-x] [--bare-bus] [--keyring-once]
#              [--screen WxHxD] -- command args...
#
# --no-x starts no X server (so no window manager or tray either): a keyring prompt then fails at
# once instead of opening a window. --bare-bus gives a session bus that activates nothing, so only
# what this script starts is on it (with --no-keyring, no Secret Service at all). --keyring-once
# gives a bus that activates everything but the keyring: a keyring daemon that ends stays away.
#
# The command sees DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR, HOME, XDG_CONFIG_HOME,
# XDG_DATA_HOME, XDG_STATE_HOME pointing into the session, and CORVANE_KEYRING_SESSION set to
# "keyring" or "none" (tests that talk to a keyring check it before they touch anything). Its exit
# status is the script's.
set -uo pipefail

a11y=1 keyring=1 wm=1 tray=1 x=1 bare_bus=0 keyring_once=0 screen=1280x800x24
while [ $# -gt 0 ]; do
  case "$1" in
    --no-a11y) a11y=0 ;;
    --no-keyring) keyring=0 ;;
    --no-wm) wm=0 ;;
    --no-tray) tray=0 ;;
    --no-x) x=0 wm=0 tray=0 ;;
    --bare-bus) bare_bus=1 ;;
    --keyring-once) keyring_once=1 ;;
    --screen) screen="$2"; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
  shift
done
[ $# -gt 0 ] || { echo "usage: $0 [options] -- command..." >&2; exit 2; }

root=$(mktemp -d /tmp/corvane-session.XXXXXX)
export XDG_RUNTIME_DIR="$root/run" HOME="$root/home"
export XDG_CONFIG_HOME="$root/home/.config" XDG_DATA_HOME="$root/home/.local/share"
export XDG_STATE_HOME="$root/home/.local/state" XDG_CACHE_HOME="$root/home/.cache"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS DBUS_SESSION_BUS_PID AT_SPI_BUS_ADDRESS \
  QT_QPA_PLATFORM NO_AT_BRIDGE GNOME_KEYRING_CONTROL SSH_AUTH_SOCK
export XDG_SESSION_TYPE=x11 GDK_BACKEND=x11 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 LANG=${LANG:-C.UTF-8}
[ "$x" = 1 ] || export QT_QPA_PLATFORM=offscreen
pids=()

log() { [ -n "${CORVANE_SESSION_VERBOSE:-}" ] && echo "session: $*" >&2; return 0; }
poll() { # poll TRIES COMMAND... : retries every 50 ms
  local tries=$1; shift
  for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
  return 1
}

cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  # Everything the bus started by itself (registryd, dconf, keyring...) carries our runtime dir.
  for p in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$p" = "$$" ] && continue
    if { tr '\0' '\n' < "/proc/$p/environ"; } 2>/dev/null | grep -qx "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"; then
      kill "$p" 2>/dev/null
    fi
  done
  sleep 0.1
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "$x" = 1 ]; then
  # X server on a free display number.
  exec 7<> <(:)
  Xvfb -displayfd 7 -nolisten tcp -noreset -screen 0 "$screen" +extension XInputExtension +extension XTEST \
    >"$root/xvfb.log" 2>&1 &
  pids+=($!)
  # One read with one deadline: a loop of short reads could time out between the digits and the line
  # end, and the next read would then take the bare line end for an empty display number.
  display=""
  read -r -t 10 display <&7 || display=""
  exec 7<&-
  [ -n "$display" ] || { echo "session: Xvfb did not start" >&2; cat "$root/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$display"
  poll 300 xdpyinfo || { echo "session: X server $DISPLAY does not answer" >&2; exit 1; }
  log "X on $DISPLAY"
fi

# Private session bus.
bus_args=(--session)
# A bus of our own config: services only from the folder given (none when "").
own_bus() {
  local services=""
  [ -n "$1" ] && services="<servicedir>$1</servicedir>"
  cat >"$root/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  $services
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  bus_args=(--config-file="$root/bus.conf")
}
if [ "$keyring_once" = 1 ]; then
  # The standard session services but the keyring's, in a folder of their own.
  mkdir -p "$root/services"
  for f in /usr/share/dbus-1/services/*.service; do
    grep -q 'gnome-keyring-daemon' "$f" || ln -s "$f" "$root/services/"
  done
  own_bus "$root/services"
fi
[ "$bare_bus" = 1 ] && own_bus ""
bus_out=$(dbus-daemon "${bus_args[@]}" --fork --print-address=1 --print-pid=1) || { echo "session: no dbus" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus_out" | sed -n 1p)
pids+=("$(echo "$bus_out" | sed -n 2p)")
log "bus $DBUS_SESSION_BUS_ADDRESS"

if [ "$a11y" = 1 ]; then
  gsettings set org.gnome.desktop.interface toolkit-accessibility true >/dev/null 2>&1 || true
  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$root/atspi.log" 2>&1 &
  pids+=($!)
  poll 300 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    || { echo "session: accessibility bus did not start" >&2; exit 1; }
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null 2>&1 || true
  log "accessibility bus up"
else
  export NO_AT_BRIDGE=1
fi

if [ "$wm" = 1 ]; then
  openbox --sm-disable >"$root/openbox.log" 2>&1 &
  pids+=($!)
  poll 300 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' \
    || { echo "session: openbox did not start" >&2; cat "$root/openbox.log" >&2; exit 1; }
  log "openbox up"
fi

if [ "$tray" = 1 ]; then
  trayer --edge top --align right --widthtype pixel --width 120 --height 24 >"$root/trayer.log" 2>&1 &
  pids+=($!)
  poll 300 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null; xdotool search --class trayer' || true
fi

if [ "$keyring" = 1 ]; then
  # A non-empty password: an empty one leaves no login keyring, and the first store waits on a dialog.
  kr=$(echo -n "corvane-test-session" | gnome-keyring-daemon --unlock --components=secrets 2>"$root/keyring.log")
  eval "$(echo "$kr" | sed -n 's/^\(GNOME_KEYRING_CONTROL=.*\)$/export \1/p')"
  # Ready once the daemon owns the Secret Service name and the unlocked login keyring is the default.
  poll 200 sh -c 'dbus-send --session --print-reply --reply-timeout=1000 --dest=org.freedesktop.secrets \
      /org/freedesktop/secrets org.freedesktop.Secret.Service.ReadAlias string:default |
      grep -q "object path \"/org/freedesktop/secrets/collection/"' \
    || { echo "session: gnome-keyring did not come up" >&2; cat "$root/keyring.log" >&2; exit 1; }
  export CORVANE_KEYRING_SESSION=keyring
  log "keyring unlocked"
else
  export CORVANE_KEYRING_SESSION=none
fi

"$@"
exit $?
