#!/usr/bin/env bash
# Fuzzes every target of a clang build configured with -DTARSIS_FUZZ=ON for a
# bounded time each, under address and undefined-behaviour sanitizers.
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]   (default 60)
# New coverage goes to a scratch copy of the corpus; a finding fails the run
# (non-zero exit) and its input is kept as fuzz/corpus/<target>/crash-<hash>,
# ready to be committed once the fault is fixed. Kinds of finding listed in
# TARSIS_FUZZ_TOLERATE (for example "frame-shape,range") are passed over, so
# fuzzing can look past known faults whose fixes are still to come.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS]}" && pwd)" || exit 2
seconds="${2:-60}"
bin="$build/bin"
targets=(config tracker concommon frames calib names capture)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for t in "${targets[@]}"; do
  exe="$bin/fuzz_$t"
  if [ ! -x "$exe" ]; then
    echo "fuzz: $exe missing (configure with CC=clang CXX=clang++ -DTARSIS_FUZZ=ON)" >&2
    exit 2
  fi
  work="$build/fuzz-work/$t"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$here/corpus/$t"/* "$work/corpus/"
  echo "== fuzz_$t for ${seconds}s"
  # Run from bin/ so the example calibration library is found beside it.
  (cd "$bin" && "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
     -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1)
  rc=$?
  tail -n 12 "$work/log"
  if [ $rc -ne 0 ] || compgen -G "$work/artifacts/*" >/dev/null; then
    failed+=("$t")
    for a in "$work/artifacts"/*; do
      [ -e "$a" ] || continue
      cp "$a" "$here/corpus/$t/$(basename "$a")"
      echo "fuzz: finding of fuzz_$t kept as fuzz/corpus/$t/$(basename "$a")" >&2
    done
    grep -m1 -E "fuzz violation|ERROR: (Address|Leak)Sanitizer|runtime error|deadly signal|timeout" "$work/log" >&2
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (logs under $build/fuzz-work)" >&2
  exit 1
fi
echo "fuzz: no findings"
