#!/usr/bin/env bash
# Builds the Debian packages kv (the game, kv-sim, kv-verify and the game's
# pictures, sounds, music and story texts) and kv-rankd (the ranking server,
# the kv-verify it runs and its systemd service) from the committed tree
# (git HEAD), in a build folder of their own, and runs lintian on both.
#
#   scripts/make-packages.sh [--out DIR] [--keep]
#
#   --out DIR   where the .deb files go (default: build-packages/ in the checkout)
#   --keep      keep the work folder (DIR/work: build, staging trees)
#
# The version is the project's (CMakeLists.txt, project VERSION). Compiler
# and linker flags are Debian's (dpkg-buildflags: hardening included); the
# dependencies on shared libraries come from dpkg-shlibdeps. Installs the
# build and packaging tools it lacks with apt-get (root or sudo).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-packages
keep=no
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --keep) keep=yes; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "make-packages: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done

say() { echo "make-packages: $*"; }
die() { echo "make-packages: $*" >&2; exit 1; }

# ---- tools ----
"$root/scripts/install-deps.sh"
tools=(dpkg-dev help2man lintian)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# ---- a clean tree: the committed files only ----
work=$out/work
rm -rf "$work"
mkdir -p "$work/src"
cleanup() { [ "$keep" = yes ] || rm -rf "$work"; }
trap cleanup EXIT
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$root" archive --format=tar HEAD | tar -x -C "$work/src"
  commit=$(git -C "$root" rev-parse --short HEAD)
  # Dates in the packages (manual pages, AppStream release) are the commit's.
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct HEAD)
else
  tar -C "$root" --exclude='./build*' --exclude='./out*' -cf - . | tar -x -C "$work/src"
  commit=unknown
  SOURCE_DATE_EPOCH=$(date +%s)
fi
export SOURCE_DATE_EPOCH

version=$(sed -n 's/^project(KV VERSION \([0-9.]*\).*/\1/p' "$work/src/CMakeLists.txt")
[ -n "$version" ] || die "no project VERSION in CMakeLists.txt"
arch=$(dpkg --print-architecture)
maintainer=${KV_MAINTAINER:-"K.V. developers <kv@kv.invalid>"}
say "kv $version ($arch) from $commit"

# ---- build with Debian's flags ----
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
# CMake reads CFLAGS and CXXFLAGS but not CPPFLAGS (_FORTIFY_SOURCE).
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DKV_GAMES_DIR=games -DKV_SYSTEMD_UNIT_DIR=/lib/systemd/system "${launcher[@]}" > "$work/cmake.log" ||
  { cat "$work/cmake.log"; die "cmake failed"; }
grep -q '^HELP2MAN:FILEPATH=/' "$work/build/CMakeCache.txt" || die "help2man not found"
nice -n 10 cmake --build "$work/build" -j2 --target \
  kv kv-sim kv-verify kv-rankd kv_assets kv_sounds kv_screenshots kv_manpages > "$work/build.log" ||
  { tail -40 "$work/build.log"; die "build failed"; }

# ---- staging trees ----
# Staged as debian/PACKAGE, where dpkg-shlibdeps expects each package's files.
stage() {  # stage PACKAGE COMPONENT
  local pkg=$1 dir=$work/debian/$1
  DESTDIR=$dir cmake --install "$work/build" --component "$2" > /dev/null
  # Debian's shape: stripped programs, compressed manual pages, the
  # copyright and changelog in /usr/share/doc.
  find "$dir" -type f -perm -u+x \
    -exec strip --remove-section=.comment --remove-section=.note --strip-unneeded {} \;
  find "$dir/usr/share/man" -type f -name '*.[0-9]' -exec gzip -9n {} \; 2>/dev/null || true
  install -D -m 644 "$work/src/packaging/debian/copyright" "$dir/usr/share/doc/$pkg/copyright"
  {
    echo "$pkg ($version) unstable; urgency=medium"
    echo
    echo "  * Built from the project's tree at $commit."
    echo
    echo " -- $maintainer  $(date -u -R -d "@$SOURCE_DATE_EPOCH")"
  } | gzip -9n > "$dir/usr/share/doc/$pkg/changelog.gz"
  chmod -R u+rwX,go+rX,go-w "$dir"
  find "$dir" -type f ! -perm -u+x -exec chmod 644 {} +
}
stage kv game
stage kv-rankd rankd

# ---- shared library dependencies (dpkg-shlibdeps wants a debian/control) ----
mkdir -p "$work/debian"
printf 'Source: kv\n\nPackage: kv\nArchitecture: any\n\nPackage: kv-rankd\nArchitecture: any\n' \
  > "$work/debian/control"
shlibs() {  # shlibs PACKAGE: the Depends of its programs
  local args=()
  while IFS= read -r f; do args+=("-e$f"); done < <(cd "$work" && find "debian/$1" -type f -perm -u+x)
  (cd "$work" && dpkg-shlibdeps -O "${args[@]}") | sed -n 's/^shlibs:Depends=//p'
}

# ---- control files ----
control() {  # control PACKAGE SECTION DEPENDS [FIELD: VALUE ...] then the description on stdin
  local pkg=$1 section=$2 depends=$3
  shift 3
  local dir=$work/debian/$pkg/DEBIAN
  mkdir -p "$dir"
  {
    echo "Package: $pkg"
    echo "Version: $version"
    echo "Architecture: $arch"
    echo "Maintainer: $maintainer"
    echo "Installed-Size: $(du -sk --exclude=DEBIAN "$work/debian/$pkg" | cut -f1)"
    echo "Depends: $depends"
    for field in "$@"; do echo "$field"; done
    echo "Section: $section"
    echo "Priority: optional"
    echo "Homepage: https://kv.invalid"
    cat
  } > "$dir/control"
  (cd "$work/debian/$pkg" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z |
     xargs -0 md5sum) > "$dir/md5sums"
  chmod 644 "$dir/control" "$dir/md5sums"
}

control kv games "$(shlibs kv), fonts-ipafont-gothic" <<'EOF'
Description: moonlit arcade shooter for a 640 x 480 window
 Aim with the mouse, fire volleys and lock-on bolts, raise a barrier or stop
 time, collect items, build chains of kills, and fight through six stages
 with bosses in seven difficulty modes. Between stages a shop spends the
 run's score on upgrades. Hi scores go to a local ranking or to a ranking
 server (package kv-rankd), each with a replay of the run.
 .
 The package also holds kv-sim, which runs the game headless (scripts,
 screenshots, an autoplay bot), and kv-verify, which checks a replay.
EOF

# procps: the unit's reload is /bin/kill -HUP. kv: its kv-sim (with the
# game's pictures and sounds) makes the videos of the ranked runs.
control kv-rankd net "$(shlibs kv-rankd), procps" "Recommends: kv (= $version)" "Suggests: sqlite3, postgresql" <<'EOF'
Description: ranking server of the K.V. arcade shooter
 kv-rankd keeps each mode's ranking of K.V. and answers the game's reads and
 writes over HTTP, from a SQLite file or a PostgreSQL database that several
 servers share, and serves the rankings as web pages. Every request is
 bounded in size and time and every client address in its writes and
 connections.
 .
 Uploaded replays are checked by kv-verify, which plays them headless in a
 process of its own under CPU, memory and time limits. With the game (package
 kv) installed, the first runs of each mode also get a video, made by its
 kv-sim at low priority under the same kind of limits and shown on the pages.
 The package runs the server as a hardened systemd service with a dynamic
 user.
EOF
for s in postinst prerm postrm; do
  install -m 755 "$work/src/packaging/debian/kv-rankd.$s" "$work/debian/kv-rankd/DEBIAN/$s"
done
printf '/etc/default/kv-rankd\n' > "$work/debian/kv-rankd/DEBIAN/conffiles"
chmod 644 "$work/debian/kv-rankd/DEBIAN/conffiles"

# ---- the packages ----
mkdir -p "$out"
debs=()
for pkg in kv kv-rankd; do
  deb=$out/${pkg}_${version}_${arch}.deb
  dpkg-deb --root-owner-group -Zxz --build "$work/debian/$pkg" "$deb" > /dev/null
  debs+=("$deb")
  say "built $deb ($(du -h "$deb" | cut -f1))"
done

# ---- lintian ----
if command -v lintian >/dev/null; then
  say "lintian:"
  lintian --info --display-info "${debs[@]}" || true
  if lintian "${debs[@]}" 2>/dev/null | grep -q '^E:'; then
    die "lintian reports errors"
  fi
fi
