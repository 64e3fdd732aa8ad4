#!/usr/bin/env bash
# Re-records the golden replays in tests/replay/golden/: one short bot run per
# mode (seed 1, at most 2000 frames), and the line of each mode's whole bot run
# in tests/sim/play_lines.txt. Run it only when play changes on
# purpose, and raise kReplayGameVersion in src/replay/replay_file.h with it.
#   scripts/record-golden-replays.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
out="$root/tests/replay/golden"
mkdir -p "$out"
lines="$root/tests/sim/play_lines.txt"
: > "$lines"
for mode in EASY HARD EXTREAM NOVA SQ LIGHT HELL; do
  "$build/kv-sim" --play "$mode" --seed 1 --frames 2000 --record "$out/$mode.kvr" >/dev/null
  "$build/kv-sim" --replay "$out/$mode.kvr"
  # The whole run's line (tests/sim/play_line.sh).
  "$build/kv-sim" --play "$mode" --seed 1 >> "$lines"
done
