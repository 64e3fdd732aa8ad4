#!/usr/bin/env bash
# Installs the build into a scratch folder, as the packages kv and kv-rankd
# hold it, and checks what the installed programs do there: the game's tools
# find share/kv beside their folder and write nothing into it, the player's
# files never ship, kv-rankd finds its own kv-verify, and that kv-verify checks
# the golden replays with only the part of the game folder it carries.
#   check-install.sh BUILD_DIR GOLDEN_REPLAY_DIR
set -euo pipefail
build=$1
golden=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kv-install.XXXXXX")
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "check-install: FAIL: $*" >&2; exit 1; }

for part in game rankd; do
  DESTDIR="$scratch/$part" cmake --install "$build" --prefix /usr --component "$part" >/dev/null
done
game=$scratch/game/usr
rankd=$scratch/rankd/usr

# The game: programs, the game folder, the desktop files; no player files.
for f in bin/kv bin/kv-sim bin/kv-verify share/kv/cg/title.bmp share/kv/dat/1.txt share/kv/dat/2.txt \
         share/applications/kv.desktop share/kv/screenshots/title.png; do
  [ -e "$game/$f" ] || fail "the game part lacks $f"
done
# The font link is relative (to /usr/share/fonts): the scratch tree gets the
# system's fonts folder, as an installed system has it.
ln -s /usr/share/fonts "$game/share/fonts"
[ -L "$game/share/kv/dat/ipagp.ttf" ] && [ -f "$game/share/kv/dat/ipagp.ttf" ] ||
  fail "dat/ipagp.ttf is no link to the system's font"
for size in 16 32 64 128 256; do
  [ -f "$game/share/icons/hicolor/${size}x${size}/apps/kv.png" ] || fail "no ${size}x${size} icon"
done
ls "$game"/share/metainfo/*.metainfo.xml >/dev/null 2>&1 || fail "no AppStream entry"
shipped=$(find "$game/share/kv" \( -name 'my.dat*' -o -name 'settings.txt' -o -name 'server.txt' \
               -o -name 'ranking.db*' -o -name '*.kvr' -o -name '.*' -o -type d -empty \) -print)
[ -z "$shipped" ] || fail "player or build files ship: $shipped"

# kv-verify and kv-sim find share/kv; kv-sim writes nothing there nor in HOME.
"$game/bin/kv-verify" "$golden/HELL.kvr" | grep -q 'verdict=verified' || fail "installed kv-verify"
mkdir "$scratch/home"
touch "$scratch/stamp"
printf '0 down left 320 240\n1 up left 320 240\n30 close\n' > "$scratch/script.txt"
HOME=$scratch/home XDG_DATA_HOME= "$game/bin/kv-sim" --frames 40 --script "$scratch/script.txt" ||
  fail "installed kv-sim"
written=$(find "$game/share/kv" "$scratch/home" -newer "$scratch/stamp" -print)
[ -z "$written" ] || fail "installed kv-sim wrote $written"

# kv-rankd: its kv-verify in lib/kv-rankd checks every golden replay.
[ -x "$rankd/sbin/kv-rankd" ] || fail "no sbin/kv-rankd"
for replay in "$golden"/*.kvr; do
  "$rankd/lib/kv-rankd/kv-verify" "$replay" | grep -q 'verdict=verified' ||
    fail "kv-rankd's kv-verify does not verify $(basename "$replay")"
done
# ... and kv-rankd runs it by default.
"$rankd/sbin/kv-rankd" --listen 127.0.0.1:0 --db "$scratch/ranking.db" --access-log none > "$scratch/rankd.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  grep -q 'listening' "$scratch/rankd.out" && break
  sleep 0.1
done
grep -Eq 'listening.*replays (required|verified)' "$scratch/rankd.out" || fail "kv-rankd found no verifier: $(cat "$scratch/rankd.out")"
echo "check-install: the game and kv-rankd work as installed"
