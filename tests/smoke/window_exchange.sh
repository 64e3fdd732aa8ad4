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
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n1 "$work/port")
[ -n "$port" ] || fail "the silent server did not start"
echo "127.0.0.1:$port" > "$work/game/dat/server.txt"

start_xvfb "$work" || fail "Xvfb did not start"
xvfb_pid=$XVFB_PID
start_game "$work" || fail "no window appeared"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
before() { awk -v a="$1" -v b="$(now)" -v s="$2" 'BEGIN { exit !(b - a < s) }'; }
# wait_line TEXT T0: seconds from T0 until TEXT is in the game's stderr (empty after 12.5 s).
wait_line() {
  while before "$2" 12.5; do
    if grep -q "$1" "$work/kv.err"; then since "$2"; return; fi
    sleep 0.05
  done
}
click() { xdotool mousemove $((ox + $1)) $((oy + $2)) click 1; sleep 0.5; }
shot() { import -window root -crop "640x480+$ox+$oy" +repage "$work/$1.png"; }
differ() { [ "$(compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1 || true)" != 0 ]; }
# Black pixels in the field's band x 12..212, y0..y1: the message log draws
# each line on a black box; the pictures and effects beneath are never black.
dark_in() {
  convert "$work/$1.png" -crop "200x$(($3 - $2))+12+$2" +repage -depth 8 txt:- |
    awk -F'[(),]' 'NR > 1 && $6 < 12 && $7 < 12 && $8 < 12 { n++ } END { print n + 0 }'
}

sleep 1
click 320 240   # title -> intro
click 320 240   # intro -> start screen
click 100 61    # 名前入力
xdotool type --delay 40 'exch'
xdotool key Return; sleep 0.8   # OK, then the question
xdotool key Return; sleep 0.8   # はい

# A short EASY game with a score, given up: a new hi score.
click 100 61    # <EASY スタート>
sleep 0.8
click 100 37    # 第１章
xdotool mousemove $((ox + 320)) $((oy + 120)) mousedown 1
sleep 10
xdotool mouseup 1
xdotool key q; sleep 1.5
shot over
click 320 240   # the comment box
xdotool type --delay 30 'wait'

# ---- the send ----
xdotool key Return
t0=$(now)
sleep 1; shot send1
sleep 2; shot send2
differ send1 send2 || fail "the picture stood still during the send"
# The waiting line is the log's first; the error line comes below it.
base=$(dark_in send2 275 470)
# The game notes each failed step on stderr as it serves the failure: a cheap
# clock for when the step ended (a screenshot takes most of a second here).
err=$(wait_line "kv: ranking send" "$t0")
[ -n "$err" ] || fail "the send had not ended 12.5 s after it began"
echo "window exchange: send failed after ${err} s"
awk -v t="$err" 'BEGIN { exit !(t <= 10.5) }' || fail "the send ended after ${err} s"
sleep 0.3; shot send_error
[ "$(dark_in send_error 275 470)" -gt $((base + 1200)) ] || fail "no error line under the waiting line"

# ---- the read ----
click 320 240   # the start screen
click 100 85    # RANKING
xdotool mousemove $((ox + 100)) $((oy + 37)) click 1   # EASY RANK
t0=$(now)
sleep 1; shot read1
sleep 2; shot read2
differ read1 read2 || fail "the picture stood still during the read"
list=$(wait_line "kv: ranking read" "$t0")
[ -n "$list" ] || fail "the read had not ended 12.5 s after it began"
echo "window exchange: read failed after ${list} s"
awk -v t="$list" 'BEGIN { exit !(t <= 10.5) }' || fail "the read ended after ${list} s"
sleep 0.3; shot read_error
# The list's ground fills the field, with the line under it.
p=$(convert "$work/read_error.png" -format '%[fx:int(255*p{320,300}.r+.5)],%[fx:int(255*p{320,300}.g+.5)],%[fx:int(255*p{320,300}.b+.5)]' info:)
[ "$p" = "16,16,16" ] || fail "no list after the failed read (pixel $p)"
[ "$(convert "$work/read_error.png" -crop 380x16+4+458 +repage -fuzz 20% -fill black -opaque black -format '%[fx:int(mean*1000)]' info:)" -gt 5 ] ||
  fail "nothing written under the list"

# ---- closing while a read waits ----
click 580 466   # <BACK>
click 100 37    # EASY RANK again
sleep 1
t0=$(now)
kill -TERM "$kv_pid"
for _ in $(seq 40); do kill -0 "$kv_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$kv_pid" 2>/dev/null && fail "the game was still running 2 s after the close"
wait "$kv_pid" || fail "the game exited with status $?"
kv_pid=""
echo "window exchange: closed after $(since "$t0") s"
save="$work/game/dat/my.dat"
[ "$(grep -c $'\r$' "$save")" = 24 ] || fail "the save file does not have 24 CR LF lines"
[ "$(sed -n 4p "$save" | tr -d '\r')" = exch ] || fail "the name is not in the save file"
echo "window exchange: ok"
