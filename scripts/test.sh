#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the Linux tree (with
# AddressSanitizer and UndefinedBehaviorSanitizer) and the Windows trees (i686, the
# DLL's target, and its x86_64 twin), and runs every test. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
status=0
summary=()
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

build() {  # build <preset>
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}

run_tests() {  # run_tests <preset>
  echo "== ctest: build/$1 =="
  if ctest --preset "$1" -j "$jobs" --timeout 900 | tee "$log"; then
    summary+=("build/$1: passed")
  else
    summary+=("build/$1: FAILED")
    status=1
  fi
  # "NN% tests passed, F tests failed out of T"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
}

for preset in linux win32 win64; do
  echo "== build: build/$preset =="
  if ! build "$preset"; then
    summary+=("build/$preset: BUILD FAILED")
    status=1
  fi
done

[[ " ${summary[*]} " == *"build/linux: BUILD FAILED"* ]] || run_tests linux
[[ " ${summary[*]} " == *"build/win64: BUILD FAILED"* ]] || run_tests win64
if [[ " ${summary[*]} " != *"build/win32: BUILD FAILED"* ]]; then
  # wine runs 32-bit programs only where the kernel executes IA-32 code; some
  # virtual machines switch that off, and then the i686 tests are built but not run.
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    run_tests win32
  else
    echo "== build/win32: this machine cannot execute 32-bit code; i686 tests built, not run (build/win64 ran them under wine64) =="
    summary+=("build/win32: built; not run (no 32-bit execution on this machine)")
  fi
fi

echo "== summary =="
printf '%s\n' "${summary[@]}"
echo "tests: $passed passed, $failed failed"
exit $status
