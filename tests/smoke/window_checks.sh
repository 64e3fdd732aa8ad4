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
  sleep 1
fi

SDL_AUDIODRIVER=dummy "$work/game/kv" > "$work/kv.out" 2> "$work/kv.err" &
kv_pid=$!
pids+=($kv_pid)
win=$(timeout 20 xdotool search --sync --name "K.V." | head -n1) || fail "no window appeared"
sleep 1.5

geom() { xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
  /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}'; }
read -r wx wy ww wh < <(geom)
[ "$ww $wh" = "640 480" ] || fail "window is ${ww}x${wh}"
shot() { sleep 0.8; import -window root "$work/$1.png"; }
# The 640 x 480 field at (x, y) of a screenshot.
crop() { convert "$work/$1.png" -crop "640x480+$2+$3" +repage "$work/$1-field.png"; }
same() { [ "$(compare -metric AE "$work/$1-field.png" "$work/$2-field.png" null: 2>&1)" = 0 ]; }
click() { xdotool mousemove $(($1 + $3)) $(($2 + $4)) click 1; sleep 0.5; }
toggle() { xdotool key "$1"; sleep 1; }

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
for _ in $(seq 50); do has_icon && break; sleep 0.2; done
has_icon || fail "the window has no icon"

# Fullscreen and back on the title picture.
shot windowed; crop windowed "$wx" "$wy"
toggle F11
read -r fx fy fw fh < <(geom)
[ "$fx $fy $fw $fh" = "0 0 1024 768" ] || fail "fullscreen window is at $fx,$fy ${fw}x${fh}"
ox=$(( (1024 - 640) / 2 )); oy=$(( (768 - 480) / 2 ))
shot full; crop full $ox $oy
same windowed full || fail "the fullscreen field differs from the windowed one"
[ "$(convert "$work/full.png" -crop 1024x140+0+0 -format '%[fx:maxima.r+maxima.g+maxima.b]' info:)" = 0 ] ||
  fail "the bar above the fullscreen field is not black"
toggle F11
read -r bx by bw bh < <(geom)
[ "$bw $bh" = "640 480" ] || fail "after fullscreen the window is ${bw}x${bh}"
shot back; crop back "$bx" "$by"
same windowed back || fail "the window does not show the field as before"

# Clicks in fullscreen land where they are aimed: title, intro, then the
# start screen's first button, which writes the controls into the log (a
# click 24 pixels off would open the name box instead).
toggle alt+Return
click $ox $oy 320 240; click $ox $oy 320 240; sleep 0.5
click $ox $oy 100 37
shot menu; crop menu $ox $oy
grey=$(convert "$work/menu-field.png" -crop 550x30+10+250 -fill black +opaque 'rgb(153,153,153)' \
       -format '%[fx:mean*w*h]' info:)
awk -v n="$grey" 'BEGIN { exit !(n > 50) }' || fail "the fullscreen click did not reach the first button"
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
[ "$(cursor)" != crosshair ] || fail "the menu shows the crosshair"
toggle alt+Return
read -r bx by bw bh < <(geom)
[ "$bw $bh" = "640 480" ] || fail "after Alt+Enter the window is ${bw}x${bh}"

# Register a name, start EASY chapter 1: the crosshair in play.
click "$bx" "$by" 100 61
xdotool type --delay 30 wcheck
xdotool key Return; sleep 0.6
xdotool key Return; sleep 0.8
click "$bx" "$by" 100 61
sleep 0.5
click "$bx" "$by" 100 37
xdotool mousemove $((bx + 320)) $((by + 300)); sleep 0.8
[ "$(cursor)" = crosshair ] || fail "in play the pointer is $(cursor)"
xdotool key q; sleep 0.8
[ "$(cursor)" != crosshair ] || fail "after the game the crosshair stays"

kill -TERM $kv_pid
for _ in $(seq 50); do kill -0 $kv_pid 2>/dev/null || break; sleep 0.1; done
wait $kv_pid || fail "the game exited with status $?"
echo "window checks ($MODE): passed"
