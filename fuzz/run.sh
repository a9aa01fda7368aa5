#!/usr/bin/env bash
# Builds the libFuzzer targets (preset 'fuzz') and runs each for a bounded
# time, starting from a copy of its seed corpus so fuzz/corpus stays as
# committed. Usage:
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]     (default 30 s, every target)
# Target names are those of fuzz/<name>_fuzz.cpp, e.g. "chunk" or "gzip".
# Set FUZZ_NO_BUILD=1 to skip the build (e.g. when running two copies side by side).
# Exits non-zero when any target reports a finding (crash, sanitizer report,
# failed invariant, leak, timeout or out-of-memory); the input that caused it
# is kept in build-fuzz/fuzz-runs/<name>/.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
case "$seconds" in '' | *[!0-9]*) echo "usage: $0 [SECONDS] [TARGET...]" >&2; exit 2 ;; esac

# Longest input per target, fitted to what the code reads: a request buffer,
# a page, a list.
declare -A maxLen=(
  [request_parser]=4096 [url_parts]=5000 [response_info]=4096 [chunk]=8192 [gzip]=4096
  [html_filter]=16384 [adblock]=4096 [web_request]=16384 [updater_manifest]=4096
  [ini_file]=4096 [list_loaders]=4096 [url_decode]=2048
)

if [ "$#" -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for src in fuzz/*_fuzz.cpp; do
    name=$(basename "$src" _fuzz.cpp)
    targets+=("$name")
  done
fi

if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
  if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    scripts/install-deps.sh || exit 1
  fi
  cmake --preset fuzz >/dev/null || exit 1
  cmake --build --preset fuzz -j "$(nproc)" || exit 1
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# Absolute: the targets that load lists move into a scratch folder of their own.
runs="$PWD/build-fuzz/fuzz-runs"
failed=()
printf '%-18s %8s %12s %8s %8s %10s  %s\n' target seconds execs cov ft corpus result
for name in "${targets[@]}"; do
  exe="build-fuzz/fuzz/${name}_fuzz"
  if [ ! -x "$exe" ]; then
    echo "no such target: $name ($exe)" >&2
    failed+=("$name")
    continue
  fi
  work="$runs/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -r "fuzz/corpus/$name/." "$work/corpus/" 2>/dev/null || true
  # The targets that load lists write them to a scratch folder under TMPDIR
  # for every input; in memory when possible, since the list stores fsync.
  scratch=$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/morvane-fuzz.XXXXXX")
  TMPDIR="$scratch" "$exe" "$work/corpus" -max_total_time="$seconds" -max_len="${maxLen[$name]:-4096}" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1
  rc=$?
  rm -rf "$scratch"
  # libFuzzer's closing status line: "#N DONE cov: C ft: F corp: K/S ...".
  last=$(grep -E '^#[0-9]+' "$work/log" | tail -1)
  execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$work/log" | grep -oE '[0-9]+$' | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' <<<"$last" | cut -d' ' -f2)
  ft=$(grep -oE 'ft: [0-9]+' <<<"$last" | cut -d' ' -f2)
  corp=$(grep -oE 'corp: [0-9]+/[0-9]+[a-zA-Z]*' <<<"$last" | cut -d' ' -f2)
  result=ok
  if [ "$rc" -ne 0 ]; then
    result="FINDING (exit $rc, see ${work#$PWD/}/log and artifacts/)"
    failed+=("$name")
  fi
  printf '%-18s %8s %12s %8s %8s %10s  %s\n' "$name" "$seconds" "${execs:--}" "${cov:--}" "${ft:--}" "${corp:--}" "$result"
  if [ "$rc" -ne 0 ]; then
    grep -m1 -E 'ERROR: |runtime error|fuzz invariant failed|SUMMARY' "$work/log" | sed 's/^/    /'
  fi
done

echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]}"
  exit 1
fi
