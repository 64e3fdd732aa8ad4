#!/usr/bin/env bash
# A whole autoplay run of one mode (seed 1, every chapter and shop) must print
# the line kept for it in play_lines.txt. The golden replays stop in the first
# chapter; this is what notices a change to a later stage, a boss or the shop.
# When play (or the bot) changes on purpose, scripts/record-golden-replays.sh
# writes the lines again with the replays.
#   play_line.sh KV_SIM GAME_DIR MODE LINES_FILE
set -euo pipefail
sim=$1 game=$2 mode=$3 lines=$4
want=$(grep -F "play: mode=$mode " "$lines")
got=$("$sim" --game-dir "$game" --play "$mode" --seed 1)
if [ "$got" != "$want" ]; then
  printf 'play line of %s changed\nwant: %s\ngot:  %s\n' "$mode" "$want" "$got"
  exit 1
fi
