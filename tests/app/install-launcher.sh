#!/bin/sh
# cmake --install into a fresh home: the application menu's folder gets a valid launcher entry whose
# Exec starts the installed binary, the icon theme gets the application icon, and an update's swap of
# the install folder (as the updater does it: staged elsewhere, then moved into place) leaves both
# working.
# Arguments: the build folder. Runs inside the headless session (tests/support/session.sh).
set -eu
build=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_STATE_HOME="$home/state"
export XDG_CACHE_HOME="$home/cache"
app="$XDG_DATA_HOME/corvane/app"
entry="$XDG_DATA_HOME/applications/corvane.desktop"
icon="$XDG_DATA_HOME/icons/hicolor/scalable/apps/corvane.svg"
appIcon="$(cd "$(dirname "$0")/../.." && pwd)/src/app/resources/corvane.svg"
fail() { echo "FAIL: $*" >&2; exit 1; }

check() {
  [ -f "$entry" ] || fail "no launcher entry in $XDG_DATA_HOME/applications ($1)"
  desktop-file-validate "$entry" || fail "the launcher entry does not validate ($1)"
  desktop-file-validate "$app/share/applications/corvane.desktop" || fail "the folder's entry does not validate ($1)"
  exec=$(sed -n 's/^Exec="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$entry")
  [ "$exec" = "$app/bin/corvane" ] || fail "Exec is '$exec', not the installed binary ($1)"
  grep -qx 'Icon=corvane' "$entry" || fail "the entry names no themed icon ($1)"
  [ -s "$icon" ] || fail "no icon in the hicolor theme ($1)"
  # The application's coloured tile, not the tray's one-colour glyph, which a dark menu swallows.
  cmp -s "$icon" "$appIcon" || fail "the themed icon is not the application icon ($1)"
  CORVANE_EXIT_AFTER_START=1 "$exec" >"$home/run.log" 2>&1 || { cat "$home/run.log" >&2; fail "Exec did not run ($1)"; }
}

cmake --install "$build" --prefix "$app" >/dev/null
check "installed"

# An update: the new version is installed into a staging folder, which writes nothing outside it,
# and then swapped into place.
before=$(cat "$entry")
stage=$(mktemp -d)
cmake --install "$build" --prefix "$stage/app" >/dev/null
[ "$(cat "$entry")" = "$before" ] || fail "a staged install changed the launcher entry"
mv "$app" "$app.cv-old" && mv "$stage/app" "$app" && rm -rf "$app.cv-old" "$stage"
check "after an update"
echo "launcher entry: $entry"
cat "$entry"
