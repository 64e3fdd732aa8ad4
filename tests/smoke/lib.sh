# Shared by the window scripts (sourced): a private copy of the game folder, so
# the developer's save is never touched, and Xvfb on a free display.

# copy_game GAME_DIR TO: the game, its pictures and its data files into TO,
# without a save file, a local ranking or a server setting.
copy_game() {
  mkdir -p "$2/dat"
  cp "$1/kv" "$2/"
  cp -r "$1/cg" "$2/"
  find "$1/dat" -maxdepth 1 -type f ! -name 'my.dat*' ! -name 'ranking.db*' ! -name server.txt \
    -exec cp {} "$2/dat/" \;
}

# start_xvfb WORK [WxH]: Xvfb on a free display (1024x768 unless given), its
# log in WORK. Exports DISPLAY and sets XVFB_PID; fails when no display came up
# within 5 s.
start_xvfb() {
  exec 5<> "$1/display"
  Xvfb -displayfd 5 -screen 0 "${2:-1024x768}x24" -nolisten tcp > "$1/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do [ -s "$1/display" ] && break; sleep 0.1; done
  DISPLAY=":$(head -n1 "$1/display")"
  export DISPLAY
  [ "$DISPLAY" != ":" ]
}

# stop_and_remove WORK PID...: ends the processes a script started (empty PIDs
# are skipped), waits for them and removes its scratch folder.
stop_and_remove() {
  local work=$1 pid
  shift
  for pid in "$@"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

# start_game WORK [ARGS...]: the copied game in WORK/game on $DISPLAY, sound
# off, its output in WORK/kv.out and kv.err. Sets kv_pid, win, and ox/oy (the
# window's corner) plus WIDTH/HEIGHT; false when no window came within 20 s.
start_game() {
  local work=$1
  shift
  SDL_AUDIODRIVER=dummy "$work/game/kv" "$@" > "$work/kv.out" 2> "$work/kv.err" &
  kv_pid=$!
  win=$(timeout 20 xdotool search --sync --name "K.V." | head -n1) || return 1
  eval "$(xdotool getwindowgeometry --shell "$win")"
  ox=$X; oy=$Y
}
