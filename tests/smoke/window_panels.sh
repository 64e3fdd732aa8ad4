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
click() { xdotool mousemove $((ox + $1)) $((oy + $2)) click 1; sleep 0.5; }
# The name's first letters in the edit box (left of where the caret blinks).
shot() { import -window root -crop "150x56+$((ox + 16))+$((oy + 362 + 37))" +repage "$work/$1.png"; }

sleep 1
click 320 240   # title -> intro
click 320 240   # intro -> start screen
click 100 61    # 名前入力
xdotool type --delay 40 'Ann,b/c'
sleep 0.5
shot typed
xdotool key Return; sleep 1      # OK: the question opens
shot asked
xdotool key n; sleep 0.8         # No: the box stays open with the cleaned name
shot kept

# The question darkens what lies behind it to half.
convert "$work/kept.png" -evaluate divide 2 "$work/kept_dark.png"
convert "$work/typed.png" -evaluate divide 2 "$work/typed_dark.png"
same() { [ "$(compare -metric AE -fuzz 3% "$1" "$2" null: 2>&1 || true)" = 0 ]; }
same "$work/asked.png" "$work/kept_dark.png" || fail "the question is not shown over the cleaned name"
same "$work/asked.png" "$work/typed_dark.png" && fail "the question is shown over the name as typed"

kill -TERM "$kv_pid"
for _ in $(seq 50); do kill -0 "$kv_pid" 2>/dev/null || break; sleep 0.1; done
wait "$kv_pid" || fail "the game exited with status $?"
kv_pid=""
echo "window panels: ok"
