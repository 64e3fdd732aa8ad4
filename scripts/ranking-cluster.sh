#!/usr/bin/env bash
# A local ranking cluster: a throw-away PostgreSQL in a temporary folder and
# several kv-rankd on loopback sharing it. Stops everything it started.
#   scripts/ranking-cluster.sh [--instances N] [--port P] [--build DIR]
#       runs until Ctrl-C; instance k listens on P+k (default P 18400)
#   scripts/ranking-cluster.sh --check [--short] [--build DIR]
#       runs kv-rank-bench's several-instances test against the cluster
# Run as root, the database runs as the user nobody.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
instances=2
port=18400
check=0
short=()
while [ $# -gt 0 ]; do
  case $1 in
    --instances) instances=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --check) check=1; shift ;;
    --short) short=(--short); shift ;;
    *) echo "usage: $0 [--instances N] [--port P] [--build DIR] | --check [--short]" >&2; exit 2 ;;
  esac
done
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$pgbin/initdb" ] || { echo "PostgreSQL server not installed (scripts/install-deps.sh)" >&2; exit 1; }
# The cluster's folder, in $TMPDIR; as root, the database runs as nobody, so
# when nobody cannot reach that folder (a private TMPDIR) it goes in /tmp.
dir=$(mktemp -d --tmpdir kv-ranking-cluster.XXXXXX)
as=()
if [ "$(id -u)" = 0 ]; then
  as=(runuser -u nobody --)
  chown nobody "$dir"
  if ! "${as[@]}" test -w "$dir"; then
    rmdir "$dir"
    dir=$(mktemp -d /tmp/kv-ranking-cluster.XXXXXX)
    chown nobody "$dir"
  fi
fi
pids=()
stop() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  "${as[@]}" "$pgbin/pg_ctl" -D "$dir/data" -m fast stop >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap stop EXIT
pgport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"${as[@]}" "$pgbin/initdb" -D "$dir/data" -E UTF8 --no-locale -A trust -U kv >"$dir/initdb.log"
"${as[@]}" "$pgbin/pg_ctl" -D "$dir/data" -w -l "$dir/server.log" \
  -o "-p $pgport -k $dir -c listen_addresses=127.0.0.1" start >/dev/null
url="postgresql://kv@127.0.0.1:$pgport/postgres"
echo "PostgreSQL on 127.0.0.1:$pgport (folder $dir)"
if [ $check = 1 ]; then
  "$build/kv-rank-bench" --postgresql "$url" "${short[@]}"
  exit $?
fi
for k in $(seq 1 "$instances"); do
  "$build/kv-rankd" --allow-unverified --listen "127.0.0.1:$((port + k))" --db "$url" --access-log "$dir/access-$k.log" &
  pids+=($!)
done
echo "kv-rankd on 127.0.0.1:$((port + 1))..$((port + instances)); Ctrl-C stops everything"
wait
