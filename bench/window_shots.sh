#!/usr/bin/env bash
# Screenshots of the real window, for comparing two builds of the game pixel
# for pixel: the whole X screen on the title picture, the intro, the start
# screen, the key help, the name box with a name typed, the Yes/No box over it
# and the start screen after it, at 1x (1024 x 768 screen), 2x (1280 x 960)
# and fullscreen (F11 on 1024 x 768 and on 1600 x 1200, where the field is
# letterboxed at 1x and 2x).
#
# The menus have moving things (drifting hexagons, a blinking caret, buttons
# fading in) that no two runs show alike, so builds are compared on the whole
# screen where the picture stands still (title, intro: field, bars and all)
# and, elsewhere, inside what the game draws over the field itself (the key
# help's panel, the Yes/No box); the other pictures are there to be looked at.
#
# usage: window_shots.sh OUT_DIR [LABEL=]GAME_DIR ...
# Writes OUT_DIR/LABEL/SETUP-STATE.png; with two or more games it then
# compares each game's pictures with the first's and exits 1 on a difference.
set -euo pipefail
out=${1:?usage: window_shots.sh OUT_DIR [LABEL=]GAME_DIR ...}
shift
[ $# -gt 0 ] || { echo "usage: window_shots.sh OUT_DIR [LABEL=]GAME_DIR ..." >&2; exit 2; }
source "$(dirname "$0")/../tests/smoke/lib.sh"

work=$(mktemp -d --tmpdir kv-wshots.XXXXXX)
xvfb_pid="" kv_pid=""
cleanup() { stop_and_remove "$work" "$kv_pid" "$xvfb_pid"; }
trap cleanup EXIT
fail() { echo "window shots: FAIL: $*" >&2; exit 1; }

# shoot LABEL GAME_DIR SETUP SCREEN [F11]: one game from start to close.
shoot() {
  local label=$1 dir=$2 setup=$3 screen=$4 full=${5:-} game="$work/game"
  local to="$out/$label"
  mkdir -p "$to"
  rm -rf "$game" "$work/display"
  copy_game "$dir" "$game"
  start_xvfb "$work" "$screen" || fail "Xvfb did not start"
  xvfb_pid=$XVFB_PID
  SDL_AUDIODRIVER=dummy "$game/kv" > "$work/kv.out" 2> "$work/kv.err" &
  kv_pid=$!
  local win
  win=$(timeout 20 xdotool search --sync --name "K.V." | head -n1) || fail "no window appeared"
  sleep 1.5
  [ -n "$full" ] && { xdotool key F11; sleep 1; }
  local ox oy sc
  eval "$(xdotool getwindowgeometry --shell "$win")"
  # Where the field's points are on the screen.
  sc=$(( WIDTH / 640 < HEIGHT / 480 ? WIDTH / 640 : HEIGHT / 480 ))
  ox=$(( X + (WIDTH - 640 * sc) / 2 )); oy=$(( Y + (HEIGHT - 480 * sc) / 2 ))
  echo "$ox $oy $sc" > "$to/$setup.geom"
  shot() { sleep 1.2; import -window root "$to/$setup-$1.png"; }
  click() { xdotool mousemove $((ox + sc * $1)) $((oy + sc * $2)) click 1; }
  shot 1-title
  click 320 240; shot 2-intro
  click 320 240
  xdotool mousemove $((ox + sc * 600)) $((oy + sc * 460)); shot 3-start
  xdotool key F1; shot 4-help
  xdotool key F1; sleep 0.5
  click 100 61; xdotool type --delay 30 shots; shot 5-name
  xdotool key Return; shot 6-confirm
  xdotool key Return; shot 7-named
  kill -TERM "$kv_pid"; wait "$kv_pid" || fail "$label: the game exited with status $?"
  kv_pid=""
  kill "$xvfb_pid"; wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
}

first=""
for arg in "$@"; do
  label=${arg%%=*}; dir=${arg#*=}
  [ "$label" = "$arg" ] && label=$(basename "$dir")
  shoot "$label" "$dir" 1x 1024x768
  shoot "$label" "$dir" 2x 1280x960
  shoot "$label" "$dir" full1x 1024x768 F11
  shoot "$label" "$dir" full2x 1600x1200 F11
  echo "window shots: $label: $(ls "$out/$label" | wc -l) pictures in $out/$label"
  [ -n "$first" ] || { first=$label; continue; }
  differ=0 compared=0
  for setup in 1x 2x full1x full2x; do
    read -r ox oy sc < "$out/$label/$setup.geom"
    [ "$(cat "$out/$first/$setup.geom")" = "$ox $oy $sc" ] || { echo "window shots: $label $setup: the field is elsewhere"; differ=1; }
    # STATE [X Y W H]: the whole screen, or a rectangle of the field.
    for part in "1-title" "2-intro" "4-help 60 50 520 380" "6-confirm 90 170 460 140"; do
      read -r state x y w h <<< "$part"
      crop=()
      [ -n "${x:-}" ] && crop=(-crop "$((w * sc))x$((h * sc))+$((ox + x * sc))+$((oy + y * sc))" +repage)
      a="$out/$first/$setup-$state.png" b="$out/$label/$setup-$state.png"
      convert "$a" "${crop[@]}" "$work/a.png"; convert "$b" "${crop[@]}" "$work/b.png"
      n=$(compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1 || true)
      compared=$((compared + 1))
      [ "$n" = 0 ] || { echo "window shots: $label $setup-$state ${x:+(part)}: $n pixels differ from $first"; differ=1; }
    done
  done
  [ $differ = 0 ] && echo "window shots: $label: $compared pictures (or their still parts) the same as $first's"
  [ $differ = 0 ] || exit 1
done
