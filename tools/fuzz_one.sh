#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time on a copy of its seed corpus and prints its
# last lines in one piece, so that several targets can run side by side.
# Usage: tools/fuzz_one.sh <seconds> <fuzz binary>
set -uo pipefail
seconds=$1
f=$2
name=$(basename "$f")
corpus=tests/fuzz/corpus/${name#fuzz_}
work=$(mktemp -d)
[ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
"$f" -max_total_time="$seconds" -max_len=70000 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work" >"$work.log" 2>&1
status=$?
{
  echo "-- $name"
  if [ $status -eq 0 ]; then tail -4 "$work.log"; else tail -60 "$work.log"; echo "-- $name FAILED ($status)"; fi
} | cat
rm -rf "$work" "$work.log"
exit $status
