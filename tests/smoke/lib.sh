# Shared by the window scripts (sourced): a private copy of the game folder, so
# the developer's save is never touched, Xvfb on a free display, and waits for
# what a step looks for instead of fixed sleeps, so that a loaded machine makes
# a check slower, not wrong. Screenshots go to $work.

T=30  # generous: the game may wait behind other programs for seconds

# wait_for SECONDS CMD...: runs CMD every 0.2 s until it succeeds; fails
# after SECONDS.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}
ended() { ! kill -0 "$1" 2>/dev/null; }

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
# within $T s.
start_xvfb() {
  exec 5<> "$1/display"
  Xvfb -displayfd 5 -screen 0 "${2:-1024x768}x24" -nolisten tcp > "$1/xvfb.log" 2>&1 &
  XVFB_PID=$!
  wait_for $T test -s "$1/display"
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
# window's corner) plus WIDTH/HEIGHT; false when no window came within $T s.
start_game() {
  local work=$1
  shift
  SDL_AUDIODRIVER=dummy "$work/game/kv" "$@" > "$work/kv.out" 2> "$work/kv.err" &
  kv_pid=$!
  win=$(timeout $T xdotool search --sync --name "K.V." | head -n1) || return 1
  eval "$(xdotool getwindowgeometry --shell "$win")"
  ox=$X; oy=$Y
}

# shot NAME: a screenshot of the whole screen.
shot() { import -window root "$work/$1.png" 2> /dev/null; }
# crop NAME X Y: the 640 x 480 field at (X, Y) of screenshot NAME, as NAME-field.
crop() { convert "$work/$1.png" -crop "640x480+$2+$3" +repage "$work/$1-field.png"; }
same() { [ "$(compare -metric AE "$work/$1-field.png" "$work/$2-field.png" null: 2>&1)" = 0 ]; }
# shows NAME X Y OTHER: a screenshot NAME whose field at (X, Y) is OTHER's field.
shows() { shot "$1" && crop "$1" "$2" "$3" && same "$1" "$4"; }
# differs NAME X Y OTHER: a screenshot whose field is no longer OTHER's.
differs() { shot "$1" && crop "$1" "$2" "$3" && ! same "$1" "$4"; }
# The title picture at (X, Y): not black, and the same in two screenshots in a row.
title_at() {
  shot "$1" && crop "$1" "$2" "$3" || return 1
  [ "$(convert "$work/$1-field.png" -format '%[fx:maxima.r+maxima.g+maxima.b]' info:)" != 0 ] || return 1
  cp "$work/$1-field.png" "$work/$1-first-field.png"
  sleep 0.3
  shows "$1" "$2" "$3" "$1-first"
}
# pixels NAME X Y W H COLOUR: how many pixels of the field's rectangle have the colour.
pixels() {
  convert "$work/$1-field.png" -crop "$4x$5+$2+$3" +repage -alpha off -transparent "$6" -alpha extract \
    -negate -format '%[fx:int(mean*w*h+0.5)]' info:
}
# click X Y FX FY: a left click at (FX, FY) of the field at (X, Y).
click() { xdotool mousemove $(($1 + $3)) $(($2 + $4)) click 1; }

# The screens a player goes through, for the field at (X, Y).
# start_screen X Y: the start screen's first button frame is drawn.
start_screen() { shot start && crop start "$1" "$2" && [ "$(pixels start 100 25 1 1 'rgb(128,128,128)')" = 1 ]; }
# through_intro X Y: from the title (title_at title X Y) to the start screen,
# each click once the screen it is meant for shows.
through_intro() {
  click "$1" "$2" 320 240
  wait_for $T differs intro "$1" "$2" title || fail "the click on the title did nothing"
  click "$1" "$2" 320 240
  wait_for $T start_screen "$1" "$2" || fail "start screen button 1 not drawn"
}
# edit_box X Y TOP STATE: a screenshot shows the edit box whose ground begins
# TOP pixels down the field (NAME_BOX, COMMENT_BOX) open, darkened under a
# question (asked) or gone (closed).
NAME_BOX=395 COMMENT_BOX=319
edit_box() {
  shot box && crop box "$1" "$2" || return 1
  local lit dark
  lit=$(pixels box 20 "$3" 360 60 'rgb(29,22,29)'); dark=$(pixels box 20 "$3" 360 60 'rgb(14,11,14)')
  case $4 in
    open) [ "$lit" -gt 1000 ] ;;
    asked) [ "$dark" -gt 1000 ] ;;
    closed) [ $((lit + dark)) -lt 100 ] ;;
  esac
}
# open_name_box X Y: 名前入力 on the start screen; the game takes text only once the box shows.
open_name_box() {
  click "$1" "$2" 100 61
  wait_for $T edit_box "$1" "$2" $NAME_BOX open || fail "the name box did not open"
}
# register NAME X Y: from the start screen, the name typed, OK'd and confirmed.
register() {
  open_name_box "$2" "$3"
  xdotool type --delay 30 "$1"
  xdotool key Return   # OK: the question "…という名前でOKですか？" opens over the game
  xdotool key Return   # はい (the question takes the keys that come after the OK)
  wait_for $T edit_box "$2" "$3" $NAME_BOX closed || fail "the name was not taken"
}
# in_play X Y: the field is mostly black (space).
in_play() { shot play && crop play "$1" "$2" && [ "$(pixels play 0 0 640 480 'rgb(0,0,0)')" -gt 200000 ]; }
# start_easy X Y: <EASY スタート>, then 第１章 on the chapter menu it opens at
# once; waits for play.
start_easy() {
  click "$1" "$2" 100 61
  click "$1" "$2" 100 37
  wait_for $T in_play "$1" "$2" || fail "play did not start"
}
