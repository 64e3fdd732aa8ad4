#!/usr/bin/env bash
# Window benchmark: the real game in a 1280 x 960 Xvfb screen (the window at
# 2x), SECONDS each on the title picture, the start screen and in play (EASY,
# chapter 1, the fire button held), driven with xdotool. For each state it
# prints the game process's CPU share, read from /proc/PID/stat (the game's
# own time, which other programs' load does not inflate), and its frames per
# second (from kv --stats); then the median of each over the runs. Each step
# waits for the screen it is meant for, so a loaded machine gives figures too.
#
# usage: window_bench.sh [--seconds N] [--runs R] [--check] [LABEL=]GAME_DIR ...
# Several game folders (say old=... new=...) run alternately, one run of each
# per round, so a change in the machine's load falls on all of them alike.
# --check: exit 1 unless every state has both figures (an older kv, which
# counts no frames on the title and in the menus, would fail it).
set -euo pipefail
seconds=30 runs=3 check=0
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --check) check=1; shift ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: window_bench.sh [--seconds N] [--runs R] [LABEL=]GAME_DIR ..." >&2; exit 2; }
source "$(dirname "$0")/../tests/smoke/lib.sh"

work=$(mktemp -d /tmp/kv-wbench.XXXXXX)
xvfb_pid="" kv_pid=""
cleanup() { stop_and_remove "$work" "$kv_pid" "$xvfb_pid"; }
trap cleanup EXIT
fail() { echo "window bench: FAIL: $*" >&2; exit 1; }

hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$kv_pid/stat"; }
cpu_percent() {  # the game's CPU share over $1 seconds, two decimals
  local a b
  a=$(cpu_ticks); sleep "$1"; b=$(cpu_ticks)
  awk -v d=$((b - a)) -v hz="$hz" -v s="$1" 'BEGIN { printf "%.2f", 100 * d / (hz * s) }'
}
# The window fills the 2x screen from (0, 0). The shared screen checks look at
# the field at 1x: every other pixel of the screenshot is the field itself.
crop() { convert "$work/$1.png" -sample 50% -crop "640x480+$2+$3" +repage "$work/$1-field.png"; }
click() { xdotool mousemove $((2 * ($1 + $3))) $((2 * ($2 + $4))) click 1; }

# run LABEL GAME_DIR ROUND: one game from start to close; prints three lines.
run() {
  local label=$1 dir=$2 round=$3 game="$work/game-$1"
  rm -rf "$game" "$work/display"
  copy_game "$dir" "$game"
  start_xvfb "$work" 1280x960 || fail "Xvfb did not start"
  xvfb_pid=$XVFB_PID
  SDL_AUDIODRIVER=dummy "$game/kv" --stats > "$work/kv.out" 2> "$work/kv.err" &
  kv_pid=$!
  timeout $T xdotool search --sync --name "K.V." > /dev/null || fail "no window appeared"
  wait_for $T title_at title 0 0 || fail "no title picture"
  local title menu play
  title=$(cpu_percent "$seconds")
  through_intro 0 0
  menu=$(cpu_percent "$seconds")
  register bench 0 0
  start_easy 0 0
  xdotool mousemove 640 240 mousedown 1   # fire held from the middle of the field
  play=$(cpu_percent "$seconds")
  xdotool mouseup 1
  kill -TERM "$kv_pid"
  wait "$kv_pid" || fail "$label: the game exited with status $?"
  kv_pid=""
  kill "$xvfb_pid"; wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  local stats field
  stats=$(grep kv-stats "$work/kv.out" || true)
  field() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p" <<< "$stats"; }
  echo "window_bench round=$round game=$label state=title cpu_pct=$title fps=$(field title_fps)"
  echo "window_bench round=$round game=$label state=start_screen cpu_pct=$menu fps=$(field menu_fps)"
  echo "window_bench round=$round game=$label state=play cpu_pct=$play fps=$(field play_fps)" \
       "play_seconds=$(field play_seconds)"
}

echo "window_bench: ${seconds}s a state, $runs rounds; load average $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq "$runs"); do
  for arg in "$@"; do
    label=${arg%%=*}; dir=${arg#*=}
    [ "$label" = "$arg" ] && label=$(basename "$dir")
    run "$label" "$dir" "$round" > "$work/run"
    cat "$work/run" | tee -a "$work/lines"
  done
done
echo "window_bench: load average now $(cut -d' ' -f1-3 /proc/loadavg)"
# Medians; a figure the game did not give (an older kv has no title_fps) stays "-".
awk '
  { for (i = 2; i <= NF; ++i) { split($i, kv, "="); f[kv[1]] = kv[2] }
    key = f["game"] " " f["state"]; if (!(key in seen)) { seen[key] = 1; order[++n] = key }
    cpu[key, ++nc[key]] = f["cpu_pct"]; if (f["fps"] != "") fps[key, ++nf[key]] = f["fps"] }
  function median(a, key, m,   i, j, t, v) {
    if (m == 0) return "-"
    for (i = 1; i <= m; ++i) v[i] = a[key, i]
    for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
    return v[int((m + 1) / 2)]
  }
  END { for (k = 1; k <= n; ++k) { split(order[k], p, " ")
          printf "window_bench median game=%s state=%s cpu_pct=%s fps=%s runs=%d\n", p[1], p[2],
                 median(cpu, order[k], nc[order[k]]), median(fps, order[k], nf[order[k]]), nc[order[k]] } }
' "$work/lines"
if [ $check = 1 ]; then
  missing=$(grep -vE 'cpu_pct=[0-9.]+ fps=[0-9.]+' "$work/lines" || true)
  [ -z "$missing" ] || fail "figures missing in: $missing"
fi
