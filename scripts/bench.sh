#!/usr/bin/env bash
# Builds the optimised benchmark tree (preset "bench", build/bench) and runs every benchmark
# executable in it (every program named *_bench), one after another. Each prints our figures
# beside its reference implementation's. Extra arguments go to every benchmark, for example
# --benchmark_filter=MD5. Exits non-zero when a build fails or a benchmark reports a missed
# target.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

jobs=${QM_BENCH_JOBS:-2}
cmake --preset bench >/dev/null || exit 1
cmake --build --preset bench -j "$jobs" || exit 1

status=0
mapfile -t benches < <(find build/bench -type f -perm -u+x -name '*_bench' | sort)
if [ ${#benches[@]} -eq 0 ]; then
  echo "bench: no benchmark executables were built" >&2
  exit 1
fi
for b in "${benches[@]}"; do
  echo "== $b =="
  "$b" "$@" || status=1
done
exit $status
