#!/usr/bin/env bash
# The sanitizer soak: builds kv-soak with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ and hammers the game with random
# input across every mode, checking invariants after each frame.
#   scripts/soak.sh                  bounded run for CI (30 000 frames)
#   scripts/soak.sh --frames 1000000 the full run (about an hour on 2 cores)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=30000
seed=1
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) echo "usage: scripts/soak.sh [--frames N] [--seed N]" >&2; exit 2 ;;
  esac
done
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)" --target kv-soak
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
./build-asan/kv-soak --frames "$frames" --seed "$seed"
