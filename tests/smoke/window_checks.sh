#!/usr/bin/env bash
# The window as a new player meets it, under Xvfb, bare or (with "wm") under
# openbox: the window has its icon; Alt+Enter / F11 fullscreen shows the field
# centred on black with the same picture and click mapping, and toggling back
# restores the window; the pointer is the crosshair in play and not in menus.
# Also: with no display at all the game says why and exits with status 1.
set -euo pipefail
GAME_DIR=${1:?usage: window_checks.sh GAME_DIR [wm|nodisplay]}
MODE=${2:-bare}
source "$(dirname "$0")/lib.sh"
fail() { echo "window checks ($MODE): FAIL: $*"; exit 1; }

if [ "$MODE" = nodisplay ]; then
  set +e
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy \
        timeout 10 "$GAME_DIR/kv" 2>&1 >/dev/null)
  rc=$?
  set -e
  [ $rc = 1 ] || fail "exit status $rc, not 1 (output: $out)"
  grep -q '^kv: cannot open a window: .' <<< "$out" || fail "message was: $out"
  echo "window checks ($MODE): passed: $out"
  exit 0
fi

work=$(mktemp -d --tmpdir kv-wchk.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

copy_game "$GAME_DIR" "$work/game"
start_xvfb "$work" || fail "Xvfb did not start"
pids+=($XVFB_PID)
if [ "$MODE" = wm ]; then
  openbox > "$work/openbox.log" 2>&1 &
  pids+=($!)
  # The window manager announces itself on the root window once it runs.
  wm_runs() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
  wait_for $T wm_runs || fail "openbox did not start"
fi

SDL_AUDIODRIVER=dummy "$work/game/kv" > "$work/kv.out" 2> "$work/kv.err" &
kv_pid=$!
pids+=($kv_pid)
win=$(timeout $T xdotool search --sync --name "K.V." | head -n1) || fail "no window appeared"

geom() { xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
  /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}'; }
# The window is at W x H and stays where it is for a moment (a window manager
# may still be placing it); sets wx wy ww wh.
settled_at() {
  local a b
  a=$(geom); sleep 0.3; b=$(geom)
  [ "$a" = "$b" ] || return 1
  read -r wx wy ww wh <<< "$b"
  [ "$ww $wh" = "$1 $2" ]
}
toggle() { xdotool key "$1"; }

wait_for $T settled_at 640 480 || fail "window is ${ww:-?}x${wh:-?}"

# The icon: SDL hands it to X as _NET_WM_ICON.
# On a loaded machine the icon may reach X a moment after the window does.
# Any window of the game's that carries it counts (SDL may map more than one).
has_icon() {
  local w
  for w in $win $(xdotool search --name "K.V." 2>/dev/null); do
    xprop -id "$w" _NET_WM_ICON 2>/dev/null | head -n 2 | grep -q 'Icon (64 x 64)' && return 0
  done
  return 1
}
wait_for $T has_icon || fail "the window has no icon"

# Fullscreen and back on the title picture.
wait_for $T title_at windowed "$wx" "$wy" || fail "the title picture did not show"
toggle F11
wait_for $T settled_at 1024 768 || fail "fullscreen window is at $wx,$wy ${ww}x${wh}"
[ "$wx $wy" = "0 0" ] || fail "fullscreen window is at $wx,$wy"
ox=$(( (1024 - 640) / 2 )); oy=$(( (768 - 480) / 2 ))
wait_for $T shows full $ox $oy windowed || fail "the fullscreen field differs from the windowed one"
[ "$(convert "$work/full.png" -crop 1024x140+0+0 -format '%[fx:maxima.r+maxima.g+maxima.b]' info:)" = 0 ] ||
  fail "the bar above the fullscreen field is not black"
toggle F11
wait_for $T settled_at 640 480 || fail "after fullscreen the window is ${ww}x${wh}"
wait_for $T shows back "$wx" "$wy" windowed || fail "the window does not show the field as before"

# Clicks in fullscreen land where they are aimed: title, intro, then the
# start screen's first button, which writes the controls into the log (a
# click 24 pixels off would open the name box instead).
toggle alt+Return
wait_for $T settled_at 1024 768 || fail "Alt+Enter: the window is ${ww}x${wh}"
wait_for $T shows full $ox $oy windowed || fail "Alt+Enter: the field is not shown centred"
click $ox $oy 320 240
wait_for $T differs intro $ox $oy windowed || fail "the click on the title did nothing"
click $ox $oy 320 240
wait_for $T differs start $ox $oy intro || fail "the click on the intro did nothing"
click $ox $oy 100 37
log_written() {
  shot menu && crop menu $ox $oy || return 1
  awk -v n="$(pixels menu 10 250 550 30 'rgb(153,153,153)')" 'BEGIN { exit !(n > 50) }'
}
wait_for $T log_written || fail "the fullscreen click did not reach the first button"
cursor() {  # "crosshair" when the pointer shows the game's aiming cross
  python3 - <<'PY'
import ctypes
x = ctypes.CDLL("libX11.so.6"); xf = ctypes.CDLL("libXfixes.so.3")
class Img(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("w", ctypes.c_ushort),
                ("h", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong))]
x.XOpenDisplay.restype = ctypes.c_void_p
xf.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
xf.XFixesGetCursorImage.restype = ctypes.POINTER(Img)
im = xf.XFixesGetCursorImage(x.XOpenDisplay(None)).contents
px = lambda cx, cy: im.pixels[cy * im.w + cx] & 0xFFFFFFFF
cross = (im.w, im.h, im.xhot, im.yhot) == (31, 31, 15, 15) and px(15, 4) == 0xFFFFFFFF \
    and px(4, 15) == 0xFFFFFFFF and px(4, 4) == 0
print("crosshair" if cross else "other %dx%d" % (im.w, im.h))
PY
}
crosshair() { [ "$(cursor)" = crosshair ]; }
no_crosshair() { [ "$(cursor)" != crosshair ]; }
# The game has set the menu's pointer by the time the log line shows.
no_crosshair || fail "the menu shows the crosshair"
toggle alt+Return
wait_for $T settled_at 640 480 || fail "after Alt+Enter the window is ${ww}x${wh}"
bx=$wx by=$wy

# Register a name, start EASY chapter 1: the crosshair in play.
register wcheck "$bx" "$by"
click "$bx" "$by" 100 61   # <EASY スタート>
click "$bx" "$by" 100 37   # 第１章
xdotool mousemove $((bx + 320)) $((by + 300))
wait_for $T crosshair || fail "in play the pointer is $(cursor)"
xdotool key q
wait_for $T no_crosshair || fail "after the game the crosshair stays"

kill -TERM $kv_pid
wait_for $T ended $kv_pid || fail "the game did not exit within ${T}s of SIGTERM"
wait $kv_pid || fail "the game exited with status $?"
echo "window checks ($MODE): passed"
