#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs
# each for the given time (default 60 seconds), one after another.
#   scripts/fuzz.sh [seconds] [target...]     targets: received_message
#                                             settings_files records
#                                             html_sanitizer
# New inputs that reach new code go to build-fuzz/corpus/<target>/; an input
# that breaks a rule or crashes goes to build-fuzz/findings/<target>/, and
# the script fails. Keep such an input as fuzz/regressions/<target>/<name>,
# named after the fault: the normal tests (fuzz_cases_tests) run it from
# then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(received_message settings_files records html_sanitizer)
build=build-fuzz

if [[ ! -f $build/build.ninja ]]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMOPET_FUZZ=ON
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

# The checks write attachments and settings files for every input: in memory
# when there is a tmpfs, so that the disk's flushes do not set the pace.
scratch_parent=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && scratch_parent=/dev/shm
scratch=$(mktemp -d "$scratch_parent/lumopet-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The libraries' own caches (GMime's, glib's) live until the process ends.
export ASAN_OPTIONS="detect_leaks=0"
export UBSAN_OPTIONS="print_stacktrace=1"

failed=()
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    findings=$build/findings/$target
    mkdir -p "$corpus" "$findings"
    log=$build/fuzz-$target.log
    echo "== $target: ${seconds}s"
    status=0
    # A target with no regression case yet has no folder for them: git
    # keeps no empty folder.
    inputs=("$corpus" "fuzz/corpus/$target")
    [[ -d fuzz/regressions/$target ]] && inputs+=("fuzz/regressions/$target")
    TMPDIR=$scratch "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1 || status=$?
    # The last status line: executions, coverage (cov), features (ft),
    # corpus size; then the executions per second.
    grep -E '^#[0-9]+' "$log" | tail -n 1 || true
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
    if [[ $status -ne 0 ]]; then
        echo "!! $target found a fault (see $log); the input is in $findings/" >&2
        grep -E '\*\*\* rule broken|ERROR: |SUMMARY: ' "$log" | head -n 5 >&2 || true
        failed+=("$target")
    fi
done
[[ ${#failed[@]} -eq 0 ]] || { echo "Faults found by: ${failed[*]}" >&2; exit 1; }
