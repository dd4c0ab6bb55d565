#!/usr/bin/env bash
# Runs every fuzz target for a bounded time over its seed corpus and fails on any crash,
# sanitizer report, leak, time-out or memory blow-up.
# Usage: fuzz/run.sh <fuzz build directory> <seconds per target> [target ...]
set -euo pipefail
build=$1
seconds=$2
shift 2
targets=("$@")
((${#targets[@]})) || targets=(catalogue payload extraction paths)
source_dir=$(cd "$(dirname "$0")" && pwd)
status=0
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/$target.log"
  rm -rf "$work" && mkdir -p "$work" "$artifacts"
  if "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$source_dir/corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E 'ERROR|SUMMARY|broken:|disagree|Test unit written' "$log" | head -20 || true
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "fuzz $target: $result, ${execs:-?} executions in ${seconds}s, ${rate:-?} per second (log: $log)"
done
exit $status
