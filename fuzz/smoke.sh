#!/bin/bash
# Builds the fuzz targets with clang into build/fuzz and runs them side by
# side for FUZZ_SECONDS (default 60) over their seeds and what earlier runs
# collected, so the run takes that long whatever the number of cores. Exits
# nonzero when a target crashes, leaks, runs out of memory or hangs; the
# input that did it is kept in build/fuzz/crashes/<target>/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds="${FUZZ_SECONDS:-60}"
build=build/fuzz
targets=(fuzz_dispatch fuzz_shell fuzz_machine_file fuzz_wmi_values fuzz_device_answers fuzz_inf)

echo "=== fuzz: configure and build"
CC=clang CXX=clang++ cmake -B "$build" -DTOLLARD_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "${targets[@]}" -j 2

echo "=== fuzz: ${targets[*]} for ${seconds} s"
pids=()
for target in "${targets[@]}"; do
  # New inputs go to the first folder, so the seeds in fuzz/corpus stay as
  # they are in the repository.
  mkdir -p "$build/corpus/$target" "$build/crashes/$target"
  # Machine files reach their faults through size and depth: a file 120 KB
  # deep overflowed the stack while short inputs found nothing.
  options=()
  [ "$target" = fuzz_machine_file ] && options=(-max_len=1048576)
  # INF files are text of any length: long lines and continued ones.
  [ "$target" = fuzz_inf ] && options=(-max_len=1048576)
  "$build/fuzz/$target" "${options[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 \
      -artifact_prefix="$build/crashes/$target/" -print_final_stats=1 \
      "$build/corpus/$target" "fuzz/corpus/$target" >"$build/$target.log" 2>&1 &
  pids+=($!)
done

failed=()
for i in "${!targets[@]}"; do
  target="${targets[$i]}"
  if wait "${pids[$i]}"; then
    echo "$target: $(grep -a -m1 '^Done' "$build/$target.log")"
  else
    echo "=== fuzz: $target failed; the end of $build/$target.log:"
    tail -n 60 "$build/$target.log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "=== fuzz: failed: ${failed[*]} (inputs in $build/crashes/)"
  exit 1
fi
echo "=== fuzz: no crash"
