#!/usr/bin/env bash
# Runs every C++ fuzz target for a fixed time, one after the other.
#
#   tests/fuzz/cpp/run_targets.sh BUILD_DIR OUT_DIR SECONDS CORPUS_DIR
#
# Each target grows its corpus in OUT_DIR/<target> from its seeds in
# tests/fuzz/cpp/seeds/<target> (and the corpus documents and the Python
# target's seeds where it reads JSON text); a failing input is kept as
# OUT_DIR/<target>-crash-* and its report in OUT_DIR/<target>.log. Prints the
# executions per target; fails when any target failed.
set -uo pipefail
build=$1 out=$2 seconds=$3 corpus=$4
here=$(cd "$(dirname "$0")" && pwd)
seeds=$here/seeds
dict=$here/json.dict

# Block routines go wrong at block and chunk edges that only long inputs
# reach: those targets try long inputs from the start (-len_control=0).
declare -A extra=(
  [reader_document]="$here/../seeds $corpus -dict=$dict -len_control=0"
  [reader_string]="-dict=$dict -len_control=0"
  [reader_number]="-dict=$dict"
  [escape_string]="$corpus -len_control=0"
  [utf8_routines]="$corpus -len_control=0"
  [number_format]=""
  [number_half]="-len_control=0"
  [number_float_row]="-len_control=0"
)
targets=(reader_document reader_string reader_number escape_string utf8_routines number_format number_half number_float_row)

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
summary=()
for t in "${targets[@]}"; do
  mkdir -p "$out/$t"
  log=$out/$t.log
  # Inputs larger than -max_len are cut to it, the corpus documents included.
  # shellcheck disable=SC2086
  "$build/tests/fuzz/cpp/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$out/$t-" "$out/$t" "$seeds/$t" ${extra[$t]} >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  summary+=("$(printf '%-16s %10s runs %8s/s  %s' "$t" "${runs:-?}" "${rate:-?}" "$([ $status = 0 ] && echo ok || echo FAILED)")")
  if [ $status != 0 ]; then
    failed+=("$t")
    echo "---- fuzz_$t failed (status $status), end of $log:"
    grep -v '^#[0-9]' "$log" | tail -40
  fi
done
echo "C++ fuzz targets, ${seconds}s each:"
printf '  %s\n' "${summary[@]}"
for t in "${targets[@]}"; do sed -n 's/^forms of /  forms of /p' "$out/$t.log"; done | sort -u

[ ${#failed[@]} = 0 ] || { echo "failed: ${failed[*]}"; exit 1; }
