#!/usr/bin/env bash
# Real-window check of the ranking exchanges against a server that takes the
# connection and never answers (server.txt points at it). While the game
# waits, its frames go on: during a send and during a read two pictures 2 s
# apart differ. Each step ends with its error within 10.5 s of its start (the
# send's error line in the message log, the read's list with the line under
# it). Closing the window while a read waits ends the game within 2 s, with
# the save file whole.
# With KEEP_SHOTS=DIR the pictures are kept there.
set -euo pipefail
GAME_DIR=${1:?usage: window_exchange.sh GAME_DIR}
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d --tmpdir kv-exch.XXXXXX)
xvfb_pid=""; kv_pid=""; listener_pid=""
cleanup() {
  [ -n "$kv_pid" ] && kill "$kv_pid" 2>/dev/null || true
  [ -n "$listener_pid" ] && kill "$listener_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ -n "${KEEP_SHOTS:-}" ]; then mkdir -p "$KEEP_SHOTS"; cp "$work"/*.png "$KEEP_SHOTS"/ 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "window exchange: FAIL: $*"; exit 1; }

copy_game "$GAME_DIR" "$work/game"

# The silent server: takes every connection and holds it without a word.
python3 -u -c '
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(64)
print(s.getsockname()[1])
held = []
while True:
    held.append(s.accept()[0])
' > "$work/port" &
listener_pid=$!
wait_for $T test -s "$work/port"
port=$(head -n1 "$work/port")
[ -n "$port" ] || fail "the silent server did not start"
echo "127.0.0.1:$port" > "$work/game/dat/server.txt"

start_xvfb "$work" || fail "Xvfb did not start"
xvfb_pid=$XVFB_PID
start_game "$work" || fail "no window appeared"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
# The game notes each failed step on stderr as it serves the failure; the
# file's time tells when the step ended (a screenshot takes most of a second here).
in_err() { grep -q "$1" "$work/kv.err"; }
written_since() { awk -v a="$1" -v b="$(date -r "$work/kv.err" +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }
# Black pixels in the field's band x 12..212, y0..y1: the message log draws
# each line on a black box; the pictures and effects beneath are never black.
dark_in() {
  convert "$work/$1-field.png" -crop "200x$(($3 - $2))+12+$2" +repage -depth 8 txt:- |
    awk -F'[(),]' 'NR > 1 && $6 < 12 && $7 < 12 && $8 < 12 { n++ } END { print n + 0 }'
}
# seen NAME WHAT...: a screenshot NAME shows WHAT (a test on its field).
seen() { local name=$1; shift; shot "$name" && crop "$name" "$ox" "$oy" && "$@" "$name"; }
# The log's first line, the waiting line of a send or read, on its black box.
waiting() { [ "$(pixels "$1" 10 250 40 16 'rgb(0,0,0)')" -gt 100 ]; }
score() { [ "$(pixels "$1" 0 0 60 14 'rgb(192,192,192)')" -gt 10 ]; }
new_record() { [ "$(pixels "$1" 120 260 400 40 'rgb(255,255,0)')" -gt 500 ]; }

wait_for $T title_at title "$ox" "$oy" || fail "the title picture did not show"
through_intro "$ox" "$oy"
register exch "$ox" "$oy"

# A short EASY game with a score, given up: a new hi score.
start_easy "$ox" "$oy"
xdotool mousemove $((ox + 320)) $((oy + 120)) mousedown 1
wait_for $T seen play score || fail "no score after ${T} s of play"
xdotool mouseup 1
xdotool key q
wait_for $T seen over new_record || fail "no new hi score after the game"
click "$ox" "$oy" 320 240   # the comment box
wait_for $T edit_box "$ox" "$oy" $COMMENT_BOX open || fail "the comment box did not open"
xdotool type --delay 30 'wait'

# ---- the send ----
xdotool key Return
t0=$(now)
wait_for $T seen send1 waiting || fail "the send did not start"
sleep 2; shot send2 && crop send2 "$ox" "$oy"   # the frames go on: 2 s later the picture has moved
same send1 send2 && fail "the picture stood still during the send"
# The waiting line is the log's first; the error line comes below it.
base=$(dark_in send2 275 470)
wait_for $T in_err "kv: ranking send" || fail "the send had not ended ${T} s after it began"
err=$(written_since "$t0")
echo "window exchange: send failed after ${err} s"
awk -v t="$err" 'BEGIN { exit !(t <= 10.5) }' || fail "the send ended after ${err} s"
error_line() { [ "$(dark_in "$1" 275 470)" -gt $((base + 1200)) ]; }
wait_for $T seen send_error error_line || fail "no error line under the waiting line"

# ---- the read ----
click "$ox" "$oy" 320 240   # the start screen
wait_for $T start_screen "$ox" "$oy" || fail "no start screen after the send"
click "$ox" "$oy" 100 85    # RANKING
click "$ox" "$oy" 100 37    # EASY RANK, on the menu RANKING opens at once
t0=$(now)
wait_for $T seen read1 waiting || fail "the read did not start"
sleep 2; shot read2 && crop read2 "$ox" "$oy"   # 2 s later the picture has moved
same read1 read2 && fail "the picture stood still during the read"
wait_for $T in_err "kv: ranking read" || fail "the read had not ended ${T} s after it began"
list=$(written_since "$t0")
echo "window exchange: read failed after ${list} s"
awk -v t="$list" 'BEGIN { exit !(t <= 10.5) }' || fail "the read ended after ${list} s"
# The list's ground fills the field, with the line under it.
list_ground() { [ "$(pixels "$1" 320 300 1 1 'rgb(16,16,16)')" = 1 ]; }
wait_for $T seen read_error list_ground || fail "no list after the failed read"
[ "$(convert "$work/read_error-field.png" -crop 380x16+4+458 +repage -fuzz 20% -fill black -opaque black -format '%[fx:int(mean*1000)]' info:)" -gt 5 ] ||
  fail "nothing written under the list"

# ---- closing while a read waits ----
click "$ox" "$oy" 580 466   # <BACK>
click "$ox" "$oy" 100 37    # EASY RANK again
wait_for $T seen read3 waiting || fail "the second read did not start"
t0=$(now)
kill -TERM "$kv_pid"
# What is tested: the game ends within 2 s of the close however long the read would wait.
for _ in $(seq 40); do kill -0 "$kv_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$kv_pid" 2>/dev/null && fail "the game was still running 2 s after the close"
wait "$kv_pid" || fail "the game exited with status $?"
kv_pid=""
echo "window exchange: closed after $(since "$t0") s"
save="$work/game/dat/my.dat"
[ "$(grep -c $'\r$' "$save")" = 24 ] || fail "the save file does not have 24 CR LF lines"
[ "$(sed -n 4p "$save" | tr -d '\r')" = exch ] || fail "the name is not in the save file"
echo "window exchange: ok"
