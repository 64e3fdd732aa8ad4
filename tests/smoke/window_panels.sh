#!/usr/bin/env bash
# Real-window check of the name entry: after OK the box shows the cleaned name
# behind the question "…、という名前でOKですか？", not the text as typed.
# (The question box is a modal loop of the window: only a real window shows
# what lies behind it.)
set -euo pipefail
GAME_DIR=${1:?usage: window_panels.sh GAME_DIR}
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kv-panels.XXXXXX")
xvfb_pid=""; kv_pid=""
cleanup() { stop_and_remove "$work" "$kv_pid" "$xvfb_pid"; }
trap cleanup EXIT
fail() { echo "window panels: FAIL: $*"; exit 1; }

copy_game "$GAME_DIR" "$work/game"
start_xvfb "$work" || fail "Xvfb did not start"
xvfb_pid=$XVFB_PID

start_game "$work" || fail "no window appeared"
# letters SHOT TO: the name's first letters in the edit box (left of where the
# caret blinks) in the field of screenshot SHOT.
letters() { convert "$work/$1-field.png" -crop "150x56+16+$((362 + 37))" +repage "$work/$2.png"; }

wait_for $T title_at title "$ox" "$oy" || fail "the title picture did not show"
through_intro "$ox" "$oy"
open_name_box "$ox" "$oy"
xdotool type --delay 40 'Ann,b/c'
# The game reads all the input waiting before each picture it draws, so the
# second new picture after the typing has every letter in.
shot typed0 && crop typed0 "$ox" "$oy"
wait_for $T differs typed1 "$ox" "$oy" typed0 && wait_for $T differs typed "$ox" "$oy" typed1 ||
  fail "the picture stood still after typing"
letters typed typed
xdotool key Return   # OK: the question opens
wait_for $T edit_box "$ox" "$oy" $NAME_BOX asked || fail "the question did not open"
letters box asked
xdotool key n        # No: the box stays open with the cleaned name
wait_for $T edit_box "$ox" "$oy" $NAME_BOX open || fail "the name box did not stay open"
letters box kept

# The question darkens what lies behind it to half.
convert "$work/kept.png" -evaluate divide 2 "$work/kept_dark.png"
convert "$work/typed.png" -evaluate divide 2 "$work/typed_dark.png"
alike() { [ "$(compare -metric AE -fuzz 3% "$1" "$2" null: 2>&1 || true)" = 0 ]; }
alike "$work/asked.png" "$work/kept_dark.png" || fail "the question is not shown over the cleaned name"
alike "$work/asked.png" "$work/typed_dark.png" && fail "the question is shown over the name as typed"

kill -TERM "$kv_pid"
wait_for $T ended "$kv_pid" || fail "the game did not close within ${T} s"
wait "$kv_pid" || fail "the game exited with status $?"
kv_pid=""
echo "window panels: ok"
