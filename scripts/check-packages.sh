#!/usr/bin/env bash
# Tries the packages on a fresh Debian 12: a minbase chroot made with
# debootstrap, where apt installs kv and kv-rankd with every dependency. Then
#   - kv, started as a player from the desktop entry's Exec line, shows the
#     title under Xvfb (screenshot DIR/title.png) and writes its save file in
#     ~/.local/share/kv;
#   - the desktop entry, the AppStream entry and the unit pass their
#     validators, the unit scores 3.0 or lower, the manual pages show;
#   - kv-rankd, started from the unit's ExecStart line with
#     /etc/default/kv-rankd, answers a ranking read, and the kv-verify it runs
#     checks the golden replays;
#   - dpkg -r leaves nothing of the packages behind but their configuration
#     (listed), and dpkg --purge nothing but the players' files and the
#     ranking store: every file of the chroot is compared with a listing taken
#     before the install.
# Needs root, debootstrap, Xvfb, ImageMagick, curl and the network to the
# Debian mirror apt uses here. Everything it makes is removed at the end; the
# screenshot and the logs stay in DIR.
#
#   scripts/check-packages.sh [--out DIR] [--base TREE] KV_DEB KV_RANKD_DEB
#
#   --out DIR    screenshot and logs (default: build-packages/ in the checkout)
#   --base TREE  copy this minbase tree (made by an earlier debootstrap) instead
#                of running debootstrap
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-packages
base=
while [ $# -gt 2 ]; do
  case $1 in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --base) base=$(realpath "$2"); shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || { sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
kv_deb=$(realpath "$1")
rankd_deb=$(realpath "$2")
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -1)
mirror=${mirror:-http://deb.debian.org/debian}
mkdir -p "$out"

chroot_dir=$(mktemp -d /var/tmp/kv-chroot.XXXXXX)
xvfb_pid=
game_pid=
server_pid=
say() { echo "check-packages: $*"; }
fail() { echo "check-packages: FAIL: $*" >&2; exit 1; }
cleanup() {
  for pid in $server_pid $game_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  sleep 1
  for m in tmp/.X11-unix sys dev proc; do
    if mountpoint -q "$chroot_dir/$m"; then umount -R "$chroot_dir/$m" 2>/dev/null || umount -lR "$chroot_dir/$m" || true; fi
  done
  # Never across a mount that is still there.
  rm -rf --one-file-system "$chroot_dir"
}
trap cleanup EXIT
in_root() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

if [ -n "$base" ]; then
  say "copying the minbase tree $base"
  cp -a "$base/." "$chroot_dir/"
else
  say "debootstrap bookworm (minbase) from $mirror"
  start=$(date +%s)
  debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" > "$out/debootstrap.log" 2>&1 ||
    fail "debootstrap (see $out/debootstrap.log)"
  say "debootstrap took $(( $(date +%s) - start )) s"
fi
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
mount -t proc proc "$chroot_dir/proc"
mount --rbind /dev "$chroot_dir/dev" && mount --make-rslave "$chroot_dir/dev"
mount -t sysfs sys "$chroot_dir/sys"
cp "$kv_deb" "$rankd_deb" "$chroot_dir/tmp/"

say "apt install ./$(basename "$kv_deb") ./$(basename "$rankd_deb")"
in_root apt-get update -qq
in_root dpkg-query -W -f '${Package}\n' | sort > "$out/before.txt"
# Every file and folder of the chroot but the ones apt, dpkg and the kernel
# keep changing.
listing() {
  (cd "$chroot_dir" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./tmp \
     -o -path ./var/cache -o -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./var/log \
     -o -path ./run \) -prune -o -print) | sed 's/^\.//' | LC_ALL=C sort
}
in_root useradd -m -s /bin/bash player
listing > "$out/files-before.txt"
in_root sh -c "DEBIAN_FRONTEND=noninteractive apt-get install -y -q /tmp/$(basename "$kv_deb") /tmp/$(basename "$rankd_deb")" \
  > "$out/apt-install.log" 2>&1 || { tail -30 "$out/apt-install.log"; fail "apt install"; }
grep -E '^(Setting up|Unpacking) ' "$out/apt-install.log" | wc -l | xargs echo "check-packages: packages set up:"
in_root dpkg-query -W -f '${Package}\n' | sort > "$out/after.txt"
in_root dpkg -L kv kv-rankd | sort -u > "$out/files.txt"

# man to read the manual pages, and systemd, which a server has, for the
# unit's checks.
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends man-db systemd procps' \
  > "$out/apt-tools.log" 2>&1 || { tail -20 "$out/apt-tools.log"; fail "apt install man-db systemd"; }
say "validators (host tools on the installed files)"
desktop-file-validate "$chroot_dir/usr/share/applications/kv.desktop"
appstreamcli validate --no-net "$chroot_dir"/usr/share/metainfo/*.metainfo.xml
systemd-analyze verify --root="$chroot_dir" --man=no /lib/systemd/system/kv-rankd.service
systemd-analyze security --offline=true --root="$chroot_dir" --threshold=30 kv-rankd.service |
  tail -1
for page in kv kv-sim kv-verify kv-rankd; do
  in_root sh -c "MANWIDTH=80 man $page 2>/dev/null | head -4 | tail -1" | sed "s/^/check-packages: man $page: /"
done

say "kv from the desktop entry's Exec line, as a player, under Xvfb"
exec_line=$(sed -n 's/^Exec=//p' "$chroot_dir/usr/share/applications/kv.desktop")
mkdir -p "$chroot_dir/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$chroot_dir/tmp/.X11-unix"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$out/display" 2> /dev/null &
xvfb_pid=$!
for _ in $(seq 50); do
  [ -s "$out/display" ] && break
  sleep 0.2
done
display=$(cat "$out/display")
chroot "$chroot_dir" su - player -c "DISPLAY=:$display SDL_AUDIODRIVER=dummy exec $exec_line" \
  > "$out/kv.log" 2>&1 &
game_pid=$!
for _ in $(seq 60); do
  [ -f "$chroot_dir/home/player/.local/share/kv/my.dat" ] && break
  sleep 0.5
done
sleep 3
import -display ":$display" -window root "$out/title.png"
[ -f "$chroot_dir/home/player/.local/share/kv/my.dat" ] || fail "no save file in ~/.local/share/kv ($(cat "$out/kv.log"))"
ls -lan "$chroot_dir/home/player/.local/share/kv" | sed 's/^/check-packages:   /'
say "screenshot: $out/title.png"
# su's child is kv itself (exec): stop it, then su ends.
kv_pid=$(pgrep -P "$game_pid" || true)
[ -z "$kv_pid" ] || kill "$kv_pid"
wait "$game_pid" 2>/dev/null || true
game_pid=

say "kv-rankd from the unit's ExecStart line"
sed -i 's/^KV_RANKD_LISTEN=.*/KV_RANKD_LISTEN=127.0.0.1:18765/' "$chroot_dir/etc/default/kv-rankd"
exec_start=$(sed -n 's/^ExecStart=//p' "$chroot_dir/lib/systemd/system/kv-rankd.service")
in_root install -d -o nobody -g nogroup -m 700 /var/lib/kv-rankd /var/log/kv-rankd
chroot "$chroot_dir" setpriv --reuid=nobody --regid=nogroup --clear-groups /bin/sh -c \
  "cd /var/lib/kv-rankd && set -a && . /etc/default/kv-rankd && set +a && exec $exec_start" > "$out/rankd.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  grep -q listening "$out/rankd.log" && break
  sleep 0.2
done
cat "$out/rankd.log"
code=$(curl -sS --max-time 5 -o "$out/read.txt" -w '%{http_code}' 'http://127.0.0.1:18765/zrk/zrk_rank.exe?read&1')
say "GET /zrk/zrk_rank.exe?read&1 -> $code, $(wc -c < "$out/read.txt") bytes"
[ "$code" = 200 ] || fail "the ranking read answered $code"
for replay in "$root"/tests/replay/golden/*.kvr; do
  in_root /usr/lib/kv-rankd/kv-verify - < "$replay" | cut -c1-60
done
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=

say "dpkg -r kv kv-rankd"
in_root dpkg -r kv kv-rankd > /dev/null
# Files that were not there before the install and that no installed package
# (the dependencies apt brought stay) owns.
owned() { cat "$chroot_dir"/var/lib/dpkg/info/*.list | LC_ALL=C sort -u; }
left_over() {
  listing | LC_ALL=C comm -23 - "$out/files-before.txt" | LC_ALL=C comm -23 - <(owned) |
    grep -Ev '^/home/player|^/var/lib/kv-rankd' || true
}
left=$(left_over)
# What the dependencies' own scripts made (font alternatives, caches) is
# theirs; what names kv is ours.
ours() { grep -i 'kv' || true; }
theirs() { grep -vi 'kv' || true; }
say "left after dpkg -r (besides the player's files and the ranking store):"
mine=$(echo "$left" | ours)
echo "${mine:-nothing}" | sed 's/^/check-packages:   /'
echo "$left" | theirs > "$out/left-by-dependencies.txt"
say "$(wc -l < "$out/left-by-dependencies.txt") more files made by the dependencies' own scripts: $out/left-by-dependencies.txt"
for d in /usr/share/kv /usr/lib/kv-rankd /usr/games/kv /usr/sbin/kv-rankd; do
  [ ! -e "$chroot_dir$d" ] || fail "$d is left"
done
in_root dpkg --purge kv kv-rankd > /dev/null 2>&1
left=$(left_over | ours)
[ -z "$left" ] || fail "left after purge: $left"
say "nothing left after dpkg --purge but the player's files ($(cd "$chroot_dir/home/player/.local/share/kv" && ls | tr '\n' ' '))"
say "and the ranking store ($(ls "$chroot_dir/var/lib/kv-rankd" | tr '\n' ' '))"
say "done"
