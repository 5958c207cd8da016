#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang, build/fuzz) and runs each of them for a
# bounded time, default 60 seconds each (QM_FUZZ_SECONDS overrides; a target name or names as
# arguments run just those). Every target keeps its corpus in build/fuzz/corpus-<name>, so a
# later run continues from what the earlier ones found; crash inputs land in
# build/fuzz/crashes-<name>. Exits non-zero when a build fails or any target finds a fault.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

seconds=${QM_FUZZ_SECONDS:-60}
jobs=${QM_FUZZ_JOBS:-2}
cmake --preset fuzz >/dev/null || exit 1
if [ $# -gt 0 ]; then
  cmake --build --preset fuzz -j "$jobs" --target "$@" || exit 1
else
  cmake --build --preset fuzz -j "$jobs" || exit 1
fi

mapfile -t targets < <(find build/fuzz -type f -perm -u+x -name '*_fuzz' | sort)
status=0
ran=0
for t in "${targets[@]}"; do
  name=$(basename "$t")
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  corpus=build/fuzz/corpus-$name
  crashes=build/fuzz/crashes-$name
  mkdir -p "$corpus" "$crashes"
  echo "== $name: ${seconds}s, corpus $corpus =="
  if "$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" \
      >"build/fuzz/$name.log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units)' "build/fuzz/$name.log" | head -2
  else
    echo "$name: FAULT FOUND (log build/fuzz/$name.log, inputs in $crashes)"
    tail -40 "build/fuzz/$name.log"
    status=1
  fi
  ran=$((ran + 1))
done
[ $ran -gt 0 ] || { echo "fuzz: no fuzz targets were run" >&2; exit 1; }
exit $status
