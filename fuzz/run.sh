#!/usr/bin/env bash
# Runs the libFuzzer targets, each for a given time, on a scratch copy of its
# seed corpus (fuzz/corpus/<target>/), so that the committed corpus does not
# grow with every run.
#
#   fuzz/run.sh [seconds] [target...]
#
# seconds: how long each target fuzzes (default 30). target: one or more of
# pakfile_fuzz, text_reader_fuzz, command_line_fuzz, round_trip_fuzz,
# alphabet_fuzz (default all of them).
#
# It builds nothing: build the targets first with
#   cmake --preset fuzz && cmake --build --preset fuzz
# or point FUZZ_BUILD_DIR at another build folder that has them (for example
# one configured like the preset but with -DCMAKE_BUILD_TYPE=RelWithDebInfo,
# which runs several times as many inputs per second).
#
# For longer runs that build on each other, set FUZZ_CORPUS_DIR: each
# target's corpus is then $FUZZ_CORPUS_DIR/<target>, seeded from the
# committed one and kept after the run.
#
# Before fuzzing, each target runs once over every input kept under
# fuzz/regressions/<target>/, the inputs that once made it fail. A failing
# input found now is written to $FUZZ_BUILD_DIR/artifacts/<target>/ (the
# path is printed); each target's full log goes to
# $FUZZ_BUILD_DIR/fuzz-logs/<target>.log. The exit status is 0 when every
# target ran clean, 1 when any failed, 2 for a usage error.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${FUZZ_BUILD_DIR:-$here/../build/fuzz}"
all_targets=(pakfile_fuzz text_reader_fuzz command_line_fuzz round_trip_fuzz
  alphabet_fuzz)

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}

seconds=30
if [[ $# -gt 0 ]]; then
  [[ "$1" == -h || "$1" == --help ]] && usage
  if [[ "$1" =~ ^[0-9]+$ ]]; then
    seconds="$1"
    shift
  fi
fi
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  if [[ ! " ${all_targets[*]} " == *" $target "* ]]; then
    echo "run.sh: unknown target '$target' (known: ${all_targets[*]})" >&2
    exit 2
  fi
  if [[ ! -x "$build/fuzz/$target" ]]; then
    echo "run.sh: $build/fuzz/$target is not built;" \
      "run: cmake --preset fuzz && cmake --build --preset fuzz" >&2
    exit 2
  fi
done

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/fuzz-logs"

failed=()
for target in "${targets[@]}"; do
  binary="$build/fuzz/$target"
  log="$build/fuzz-logs/$target.log"
  artifacts="$build/artifacts/$target"
  mkdir -p "$artifacts"
  : >"$log"

  # The inputs that once failed must pass now.
  regressions="$here/regressions/$target"
  if compgen -G "$regressions/*" >/dev/null; then
    if ! "$binary" -runs=1 "$regressions"/* >>"$log" 2>&1; then
      echo "$target: FAILED on an input under $regressions (log: $log)"
      tail -n 30 "$log"
      failed+=("$target")
      continue
    fi
  fi

  corpus="${FUZZ_CORPUS_DIR:-$scratch}/$target"
  mkdir -p "$corpus"
  if compgen -G "$here/corpus/$target/*" >/dev/null; then
    cp "$here/corpus/$target"/* "$corpus"/
  fi
  # Inputs larger than a few blocks find nothing more, only run slower: 16 KiB
  # holds a pakfile of 49 blocks with room to spare, 4 KiB strings long
  # enough for the walk that long strings take.
  case "$target" in
    command_line_fuzz) max_len=1024 ;;
    round_trip_fuzz) max_len=4096 ;;
    *) max_len=16384 ;;
  esac
  echo "$target: fuzzing for ${seconds}s"
  status=0
  "$binary" "$corpus" -max_total_time="$seconds" -timeout=10 \
    -max_len="$max_len" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" >>"$log" 2>&1 || status=$?
  if [[ $status -ne 0 ]]; then
    echo "$target: FAILED (exit status $status; log: $log)"
    grep -E "^(fuzz check failed|SUMMARY|==[0-9]+==ERROR)|Test unit written" \
      "$log" || true
    tail -n 40 "$log"
    failed+=("$target")
    continue
  fi
  # The last status line: executions, coverage, corpus size.
  grep -E "^#[0-9]+[[:space:]]+DONE" "$log" | tail -n 1 || true
  grep -E "^stat::number_of_executed_units" "$log" || true
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "run.sh: failed: ${failed[*]}"
  exit 1
fi
echo "run.sh: all targets ran clean"
