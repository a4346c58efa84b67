#!/usr/bin/env bash
# Builds everything and runs every test: the native tests (ASan/UBSan), then the Windows tests
# under Wine on a virtual display, in a Chinese and in a non-Chinese locale.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/env.sh
source scripts/display.sh
build="${PLAN_DESK_BUILD:-$root/build}"

scripts/build.sh native
ctest --test-dir "$build/native" --output-on-failure -j"$(nproc)"

scripts/build.sh win
# The headless run command as on a fresh machine: before any wineserver of the prefix is up.
bash scripts/tests/run_command_test.sh
ensure_display
# The fuzz targets build on the core the Windows tests leave idle (they run one at a time).
PLAN_DESK_FUZZ_BUILD_ONLY=1 nice -n 10 scripts/fuzz.sh >"$build/fuzz-build.log" 2>&1 &
fuzz_build=$!
trap 'kill $fuzz_build 2>/dev/null || true; wineserver -k >/dev/null 2>&1 || true; stop_display' EXIT
# A warm wineserver saves about 2 s per test executable.
wineserver -p >/dev/null 2>&1 || true
wine cmd /c exit >/dev/null 2>&1 || true
# GUI tests contend for the foreground window, so the Windows tests run one at a time.
LC_ALL=zh_CN.UTF-8 ctest --test-dir "$build/win" --output-on-failure
LC_ALL=C.UTF-8 ctest --test-dir "$build/win" --output-on-failure -L locale
# Every fuzz target for a short while from its seed corpus (longer: scripts/fuzz.sh <seconds per target>).
if ! wait $fuzz_build; then
  cat "$build/fuzz-build.log" >&2
  echo "fuzz targets failed to build" >&2
  exit 1
fi
scripts/fuzz.sh 12
shots="$build/win/e2e-screenshots"
if [ -d "$shots" ]; then
  echo "end-to-end screenshots:"
  find "$shots" -name '*.png' | sort | sed 's/^/  /'
fi
echo "all tests passed"
