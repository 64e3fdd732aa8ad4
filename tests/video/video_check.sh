#!/usr/bin/env bash
# kv-sim --video end to end: a short LIGHT run is recorded, rendered to WebM
# and to MP4 at 2x and read back with Debian's ffprobe and ffmpeg: its frames,
# its length, a picture against kv-sim --png, its sound against the frame the
# game started the first one. A replay that does not verify, a missing folder,
# a full disk and a stop in the middle each leave no file behind.
set -euo pipefail
SIM=$1
work=$(mktemp -d --tmpdir kv-video-check.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
only_files() {  # the folder holds exactly these files (no half-made video)
  local have
  have=$(ls -A | sort | tr '\n' ' ')
  [ "$have" = "$* " ] || fail "files left: $have (expected $*)"
}
psnr_at() {  # video, picture number from 1, png, scale
  ffmpeg -nostdin -v info -i "$1" -i "$3" -filter_complex \
    "[0:v]select=eq(n\,$(($2 - 1))),setpts=PTS-STARTPTS[a];[1:v]scale=iw*$4:ih*$4:flags=neighbor[b];[a][b]psnr" \
    -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p'
}
frames_of() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"
}

"$SIM" --play LIGHT --seed 1 --frames 400 --record run.kvr >/dev/null
frames=$("$SIM" --replay run.kvr | sed -n 's/.* frames=\([0-9]*\) .*/\1/p')
[ -n "$frames" ] || fail "the recorded run does not verify"

out=$("$SIM" --replay run.kvr --video run.webm)
echo "$out"
grep -q "^video: run.webm frames=$frames .*VP9 640x480 25 fps + Opus, WebM" <<<"$out" || fail "video line"
grep -q "^render: .* s (CPU .* s) for " <<<"$out" || fail "render time line"
[ "$(frames_of run.webm)" = "$frames" ] || fail "frame count $(frames_of run.webm), not $frames"
dur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 run.webm)
python3 -c "import sys; sys.exit(abs($dur - $frames / 25) >= 0.1)" || fail "length $dur s for $frames frames"

"$SIM" --replay run.kvr --frames 300 --png p300.png
p=$(psnr_at run.webm 300 p300.png 1)
python3 -c "import sys; sys.exit(not float('$p') > 35)" || fail "picture 300 is $p dB from kv-sim --png"
echo "picture 300: $p dB"

# Silent before the first sound the game started, not silent in the second after it.
first=$(sed -n 's/^sound: .* the first at frame \([0-9]*\)$/\1/p' <<<"$out")
[ -n "$first" ] && [ "$first" -ge 0 ] || fail "no sound started"
ffmpeg -nostdin -v error -i run.webm -map 0:a -ac 1 -ar 8000 -f s16le sound.raw
python3 - "$first" <<'PY' || fail "sound track"
import math, struct, sys
first = int(sys.argv[1]) / 25
d = open("sound.raw", "rb").read()
s = struct.unpack("<%dh" % (len(d) // 2), d)
def rms(a, b):
    w = s[int(a * 8000):int(b * 8000)]
    return math.sqrt(sum(x * x for x in w) / max(1, len(w)))
before, after = (rms(0, first - 0.05) if first > 0.1 else 0), rms(first, first + 1)
print("sound: rms %.0f before the first at %.2f s, %.0f in the second after" % (before, first, after))
sys.exit(not (before < 30 and after > 300))
PY
rm sound.raw

# MP4 at 2x: every pixel a 2 x 2 block.
out=$("$SIM" --replay run.kvr --video run.mp4 --scale 2)
grep -q "^video: run.mp4 frames=$frames .*H.264 1280x960 25 fps + AAC, MP4" <<<"$out" || fail "mp4 line: $out"
[ "$(frames_of run.mp4)" = "$frames" ] || fail "mp4 frame count $(frames_of run.mp4), not $frames"
p=$(psnr_at run.mp4 300 p300.png 2)
python3 -c "import sys; sys.exit(not float('$p') > 35)" || fail "mp4 picture 300 is $p dB"
echo "mp4 picture 300 at 2x: $p dB"
rm run.webm run.mp4 p300.png
only_files run.kvr

# A replay that does not play to what it claims: a point more in its header.
python3 - <<'PY'
import zlib
b = bytearray(open("run.kvr", "rb").read())
n = b[6]
at = 7 + n + 1
b[at:at + 4] = (int.from_bytes(b[at:at + 4], "little") + 1).to_bytes(4, "little")
end = at + 24
crc = zlib.crc32(bytes(b[end:]), zlib.crc32(bytes(b[:end - 4])))
b[end - 4:end] = crc.to_bytes(4, "little")
open("claims.kvr", "wb").write(b)
PY
if "$SIM" --replay claims.kvr --video v.webm 2>err.txt; then fail "a replay that does not verify gave a video"; fi
grep -q "no video written: the replay does not verify" err.txt || fail "message: $(cat err.txt)"
rm err.txt claims.kvr
only_files run.kvr

if "$SIM" --replay run.kvr --video none/v.webm 2>err.txt; then fail "a missing folder took a video"; fi
grep -q "no video written: cannot write in none" err.txt || fail "message: $(cat err.txt)"
rm err.txt

# A full disk: the file may not grow past 100 KB.
if (ulimit -f 100; trap '' XFSZ; exec "$SIM" --replay run.kvr --video v.webm 2>err.txt); then
  fail "a full disk gave a video"
fi
grep -q "no video written: cannot write v.webm" err.txt || fail "message: $(cat err.txt)"
rm err.txt
only_files run.kvr

# Stopped in the middle.
"$SIM" --replay run.kvr --video v.webm 2>err.txt &
pid=$!
for _ in $(seq 200); do
  compgen -G ".v.webm.*" >/dev/null && break
  sleep 0.05
done
kill -TERM "$pid"
if wait "$pid"; then fail "a stopped render said it was done"; fi
grep -q "no video written: stopped" err.txt || fail "message: $(cat err.txt)"
rm err.txt
only_files run.kvr
echo "video checks passed"
