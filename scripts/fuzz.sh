#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ and runs each one for
# SECONDS_PER_TARGET (default 40), several at a time (one per core), each on a working
# corpus in a temporary folder seeded from fuzz/seeds, fuzz/regressions and tests/data.
# Exits non-zero when any target finds something: its log and the input that did it are
# kept in the temporary folder, whose path is printed.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
#
# Environment, for longer or narrower runs:
#   QUILLET_FUZZ_TARGETS  the targets to run (default: decode import transcript timecode
#                         textstream propertylist)
#   QUILLET_FUZZ_RUNS     stop each target after this many executions; with it and no
#                         SECONDS argument there is no time limit
#   QUILLET_FUZZ_FORK     run each target as that many parallel workers sharing one
#                         corpus (libFuzzer's -fork); pays off for the fast targets
#                         (timecode, propertylist): every worker's job starts by running
#                         the whole corpus again, which the slow ones spend most time on
#   QUILLET_FUZZ_JOBS     how many targets run at once (default: the number of cores)
#   QUILLET_FUZZ_CORPUS   keep the working corpora in this folder (one per target) instead
#                         of a temporary one, so that the next run goes on from them
#   QUILLET_FUZZ_ARGS     more libFuzzer options for every target
#   QUILLET_FUZZ_BUILD    the build folder (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ $# -gt 0 ]; then
  seconds=$1
elif [ -n "${QUILLET_FUZZ_RUNS:-}" ]; then
  seconds=0
else
  seconds=40
fi
targets=(${QUILLET_FUZZ_TARGETS:-decode import transcript timecode textstream propertylist})
cores=$(nproc)
parallel=${QUILLET_FUZZ_JOBS:-$cores}

bash scripts/install-deps.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-fuzz.XXXXXX")
build=${QUILLET_FUZZ_BUILD:-build-fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac
echo "Building the fuzz targets in $build/"
if ! { CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_FUZZ=ON \
         -DQUILLET_BUILD_TESTS=OFF -DQUILLET_BUILD_BENCH=OFF &&
       cmake --build "$build" -j"$cores" --target $(printf 'fuzz_%s ' "${targets[@]}"); } >"$work/build.log" 2>&1; then
  tail -n 60 "$work/build.log"
  echo "The fuzz targets did not build; the whole log is $work/build.log" >&2
  exit 1
fi
corpora=${QUILLET_FUZZ_CORPUS:-$work/corpus}

# ---- Seeds ------------------------------------------------------------------------------
# Each target starts from its checked-in seeds (fuzz/seeds/<target>/, which CTest also
# replays) and its regressions. The SCC samples add to every target that reads files or
# lines: targets that read one field get the fields cut out of the samples, targets with
# a header byte get one seed per mode.
seeds=$work/seeds
mkdir -p "$seeds"
scc=("$root"/tests/data/*.scc)
cut_lines() {  # cut_lines <folder> <awk program>: unique pieces of the samples, one file each
  mkdir -p "$1"
  cat "${scc[@]}" | tr -d '\r' | awk -F'\t' "$2" | sort -u |
    awk -v dir="$1" 'NR <= 3000 { f = sprintf("%s/%05d", dir, NR); printf "%s", $0 > f; close(f) }'
}
make_seeds() {
  local target=$1 dir=$seeds/$1
  mkdir -p "$dir"
  case $target in
    decode) cut_lines "$dir" 'NF >= 2 { print $2 }' ;;
    timecode) cut_lines "$dir" 'NF >= 2 { print }' ;;
    import)
      for f in "${scc[@]}"; do
        for mode in 00 01 02 1f; do { printf "\\x$mode"; head -c 8191 "$f"; } > "$dir/$mode-$(basename "$f")"; done
      done ;;
    transcript)
      for f in "${scc[@]}"; do
        { printf '\x01\x12\x34\x56\x78\x9a\xbc\xde\xf0'; head -c 8183 "$f"; } > "$dir/scc-$(basename "$f")"
        { printf '\x00\x12\x34\x56\x78\x9a\xbc\xde\xf0'; head -c 8183 "$f"; } > "$dir/raw-$(basename "$f")"
      done ;;
    textstream) cp "${scc[@]}" "$dir/" ;;
  esac
  for kept in seeds regressions; do
    if [ -d "$root/fuzz/$kept/$target" ]; then cp "$root/fuzz/$kept/$target"/* "$dir/" 2>/dev/null || true; fi
  done
}

options() {  # the target's own libFuzzer options
  case $1 in
    decode) echo "-max_len=4096 -dict=$root/fuzz/decode.dict" ;;
    import) echo "-max_len=8192 -dict=$root/fuzz/decode.dict" ;;
    transcript) echo "-max_len=8192 -dict=$root/fuzz/transcript.dict" ;;
    timecode) echo "-max_len=512 -dict=$root/fuzz/timecode.dict" ;;  # the seeds' sweeps are for the replay
    textstream) echo "-max_len=8192 -dict=$root/fuzz/textstream.dict" ;;
    propertylist) echo "-max_len=2048 -dict=$root/fuzz/propertylist.dict" ;;
  esac
}

# ---- Runs ------------------------------------------------------------------------------
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
run_target() {
  local target=$1 log=$work/$1.log
  make_seeds "$target"
  mkdir -p "$corpora/$target" "$work/artifacts"
  local limits=(-timeout=30 -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-")
  [ "$seconds" != 0 ] && limits+=(-max_total_time="$seconds")
  [ -n "${QUILLET_FUZZ_RUNS:-}" ] && limits+=(-runs="$QUILLET_FUZZ_RUNS")
  [ -n "${QUILLET_FUZZ_FORK:-}" ] && limits+=(-fork="$QUILLET_FUZZ_FORK")
  local status=0
  # shellcheck disable=SC2046,SC2086
  (cd "$work" && "$build/fuzz/fuzz_$target" "${limits[@]}" $(options "$target") ${QUILLET_FUZZ_ARGS:-} \
      "$corpora/$target" "$seeds/$target") >"$log" 2>&1 || status=$?
  echo "$status" > "$work/$target.status"
}

echo "Fuzzing ${targets[*]} (${seconds}s each${QUILLET_FUZZ_RUNS:+, at most $QUILLET_FUZZ_RUNS runs}), $parallel at a time, in $work"
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  run_target "$target" &
done
wait

failed=0
for target in "${targets[@]}"; do
  log=$work/$target.log
  status=$(cat "$work/$target.status" 2>/dev/null || echo 99)
  # The last status line libFuzzer printed (DONE, or the last pulse of a failed run), and
  # in fork mode its last round, which counts all the workers' executions.
  last=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -n 1 || true)
  runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{ s += $2 } END { print s + 0 }' || true)
  if [ -n "${QUILLET_FUZZ_FORK:-}" ]; then
    last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -n 1 || true)
    runs=$(echo "$last" | sed -nE 's/^#([0-9]+):.*/\1/p')
  fi
  cov=$(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  if [ "$status" = 0 ]; then
    printf '%-13s ok      %12s runs  %s\n' "$target" "$runs" "$cov"
  else
    failed=1
    printf '%-13s FAILED  (exit %s) %12s runs  %s\n' "$target" "$status" "$runs" "$cov"
    echo "---- $log (last 60 lines) ----"
    tail -n 60 "$log"
    echo "----"
  fi
done

if [ "$failed" != 0 ]; then
  echo "A fuzz target found a fault. Logs and inputs: $work (artifacts/ holds the inputs)" >&2
  exit 1
fi
rm -rf "$work"
