#!/usr/bin/env bash
# Runs a Windows test executable under wine, headless, with a wine prefix kept
# inside the build tree (created once, on first use, under a lock).
set -eu
exe=$1; shift
build_dir=${QM_WINE_BUILD_DIR:-}
if [ -z "$build_dir" ]; then
  # Walk up from the executable to the tree that holds CMakeCache.txt.
  d=$(cd "$(dirname "$exe")" && pwd)
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  build_dir=$d
fi
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
case "$(od -An -j0 -N2 -c "$exe" 2>/dev/null)" in *M*Z*) ;; *) echo "wine-run: $exe is not a Windows executable" >&2; exit 2;; esac
# PE machine field: 0x8664 is x86_64, 0x14c is i386.
pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$exe" | tr -d ' ')
if [ "$machine" = 8664 ]; then wine=/usr/lib/wine/wine64; else wine=/usr/lib/wine/wine; fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$build_dir"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$wine" wineboot -i >/dev/null 2>&1 || true
      "$(dirname "$wine")/wineserver" -w || true
    fi
  ) 9>"$build_dir/.wineprefix.lock"
fi
exec "$wine" "$exe" "$@"
