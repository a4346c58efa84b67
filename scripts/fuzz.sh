#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan/UBSan, a tree of their own) and runs each for a bounded
# time from its checked-in seed corpus, copied to a scratch folder so the tree stays clean.
# Fails when any target crashes or breaks one of its properties; the input that did it is kept.
#
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target...]
# Environment:
#   PLAN_DESK_BUILD       build root (default <repo>/build); the trees are fuzz/ and fuzz-runner/
#   PLAN_DESK_FUZZ_CORPUS keep each target's grown corpus in <dir>/<target> across runs
#   PLAN_DESK_FUZZ_LOG    append one line per target run: date, target, seconds, CPU seconds, runs, result
#   PLAN_DESK_FUZZ_BUILD_ONLY  build the targets and stop
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build="${PLAN_DESK_BUILD:-$root/build}"
jobs=$(nproc)

targets=(engine_api_fuzz rule_store_fuzz settings_ini_fuzz account_store_fuzz rule_text_fuzz)
CC=clang CXX=clang++ cmake -S "$root" -B "$build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPLAN_DESK_FUZZ=ON -DPLAN_DESK_SANITIZE=OFF >/dev/null
cmake --build "$build/fuzz" -j"$jobs" --target "${targets[@]}" >/dev/null
declare -A binary corpus
for t in "${targets[@]}"; do
  binary[$t]="$build/fuzz/bin/$t"
  corpus[$t]="$root/fuzz/corpus/$t"
done
# The archive and manifest readers' targets live with the runner, as a project of its own.
runner_fuzz="$root/libs/engine/runner/fuzz"
if [ -f "$runner_fuzz/CMakeLists.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$runner_fuzz" -B "$build/fuzz-runner" >/dev/null
  cmake --build "$build/fuzz-runner" -j"$jobs" --target kivo_zip_reader_fuzz kivo_manifest_fuzz >/dev/null
  targets+=(kivo_zip_reader_fuzz kivo_manifest_fuzz)
  binary[kivo_zip_reader_fuzz]="$build/fuzz-runner/kivo_zip_reader_fuzz"
  corpus[kivo_zip_reader_fuzz]="$runner_fuzz/corpus"
  binary[kivo_manifest_fuzz]="$build/fuzz-runner/kivo_manifest_fuzz"
  corpus[kivo_manifest_fuzz]="$runner_fuzz/manifest_corpus"
fi
if [ $# -gt 0 ]; then targets=("$@"); fi
# Build only, so that a caller can build while it does something else and run the targets later.
if [ -n "${PLAN_DESK_FUZZ_BUILD_ONLY:-}" ]; then exit 0; fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/plan_desk_fuzz.XXXXXX")
# The targets' data folders go to a RAM disk when there is one: the stores flush on every save.
ram=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then ram=$(mktemp -d /dev/shm/plan_desk_fuzz.XXXXXX); fi
trap 'rm -rf "$scratch" ${ram:+"$ram"}' EXIT

# User + system time of this shell's finished children, in seconds, from the `times` output in $1
# (the builtin must run in this shell, not in a command substitution).
cpu_seconds() {
  tail -n 1 "$1" | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.1f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}

failed=()
for t in "${targets[@]}"; do
  [ -n "${binary[$t]:-}" ] || { echo "fuzz: no target $t" >&2; exit 2; }
  if [ -n "${PLAN_DESK_FUZZ_CORPUS:-}" ]; then
    work="$PLAN_DESK_FUZZ_CORPUS/$t"
  else
    work="$scratch/$t/corpus"
  fi
  mkdir -p "$work" "$scratch/$t"
  cp -n "${corpus[$t]}"/* "$work"/ 2>/dev/null || true
  options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix="$scratch/$t/")
  case $t in
    rule_store_fuzz) options+=(-max_len=20000) ;;
    kivo_zip_reader_fuzz | kivo_manifest_fuzz) options+=(-max_len=65536) ;;
  esac
  times >"$scratch/times.before"
  start=$(date +%s)
  set +e
  TMPDIR="${ram:-$scratch}" nice -n 19 "${binary[$t]}" "${options[@]}" "$work" >"$scratch/$t/log" 2>&1
  rc=$?
  set -e
  wall=$(( $(date +%s) - start ))
  times >"$scratch/times.after"
  cpu=$(awk -v a="$(cpu_seconds "$scratch/times.after")" -v b="$(cpu_seconds "$scratch/times.before")" \
    'BEGIN { printf "%.0f", a - b }')
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$t/log" | tail -n 1)
  result=ok
  if [ $rc -ne 0 ]; then
    result=FAILED
    failed+=("$t")
    keep="$build/fuzz-artifacts/$t"
    mkdir -p "$keep"
    cp "$scratch/$t"/crash-* "$scratch/$t"/leak-* "$scratch/$t"/timeout-* "$scratch/$t"/oom-* "$keep"/ 2>/dev/null || true
    cp "$scratch/$t/log" "$keep/log"
    grep -E 'property broken|ERROR|SUMMARY|^    #[0-9]' "$scratch/$t/log" | head -n 30 >&2 || true
    echo "fuzz: $t failed; its input and log are in $keep" >&2
  fi
  printf 'fuzz: %-22s %5ss  cpu %6ss  %10s runs  %s\n' "$t" "$wall" "$cpu" "${runs:-?}" "$result"
  if [ -n "${PLAN_DESK_FUZZ_LOG:-}" ]; then
    printf '%s %s wall=%s cpu=%s runs=%s %s\n' "$(date -u +%FT%TZ)" "$t" "$wall" "$cpu" "${runs:-?}" "$result" \
      >>"$PLAN_DESK_FUZZ_LOG"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: every target ran ${seconds}s without a crash"
