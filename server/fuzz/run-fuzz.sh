#!/bin/sh
# Builds the ranking's fuzz targets with clang and runs one for a bounded time
# (default 30 s): ./server/fuzz/run-fuzz.sh [BUILD_DIR] [SECONDS] [decode|front]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-fuzz}
seconds=${2:-30}
target=${3:-decode}
cmake -S "$root/server/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 >/dev/null
if [ "$target" = front ]; then
  corpus="$build/corpus-front"
  mkdir -p "$corpus"
  printf 'GET /zrk/zrk_rank.exe?read&1 HTTP/1.1\r\nHost: a\r\n\r\n' > "$corpus/seed-read"
  printf 'POST /zrk/zrk_rank.exe?write&2 HTTP/1.1\r\nHost: a\r\nContent-Length: 6\r\n\r\n%%41%%42GET /x HTTP/1.0\r\n\r\n' > "$corpus/seed-write"
  printf 'POST /zrk/zrk_rank.exe?write&1 HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\n%%41\r\n0\r\n\r\n' > "$corpus/seed-chunked"
  printf 'GET /zrk/zrk_rank.exe?read&1 HTTP/1.1\r\nX-Forwarded-For: 198.51.100.7, [2001:db8::5]:443,10.0.0.2\r\nX-Forwarded-For: 127.0.0.9\r\n\r\n' > "$corpus/seed-xff"
  printf 'GET /zrk/zrk_rank.exe?read&1 HTTP/1.1\r\nForwarded: for=unknown, For="[2001:db8:cafe::17]:4711";proto=http;by=10.0.0.1, for="198.51.100.1:80"\r\n\r\n' > "$corpus/seed-forwarded"
  exec "$build/kv-rank-fuzz-front" -max_total_time="$seconds" -max_len=6000 -timeout=20 -print_final_stats=1 "$corpus"
fi
corpus="$build/corpus"
mkdir -p "$corpus"
# Seeds: a record body as the game sends it, and a ranking reply line.
printf '%s' '%2F%77%6F%77%41%41%42%62%2D%68%2B%4D%45%51%2D%6B%2B%41%46%73%41%58%51%2D%6B%2B%4D%45%49%41%49%77%42%37%2D%41%42%43%2B%41%43%4D%41%65%77%2D%34%32%2B%41%43%4D%41%65%77%2D%35%30%30%2B%41%43%4D%41%65%77%2D%30%2B%41%43%4D%41%65%77%2D%68%69%2B%41%43%4D%41%65%77%2D%30%2B%41%43%4D%41%65%77%2D%33%2F%34%2B%41%43%4D%41%65%77%2D%30%2B%41%43%4D%41%65%77%2D%31%32%2B%41%43%4D%41%65%77%2D%30%2B%41%43%4D%41%65%77%2D%30%2B%41%43%4D%41%65%7A%41%41%2F%77%6F%82%A0%37' > "$corpus/seed-body"
printf '%s\r\n' '/wowAABb-h+MEQ-k+AFsAXQ-k+MEIAIwB7-ABC+ACMAew-42+ACMAew-500+ACMAew-0+ACMAew-hi+ACMAew-0+ACMAew-3/4+ACMAew-0+ACMAew-12+ACMAew-0+ACMAew-0+ACMAezAA/wo' > "$corpus/seed-reply"
"$build/kv-rank-fuzz" -max_total_time="$seconds" -max_len=4200 -print_final_stats=1 "$corpus"
