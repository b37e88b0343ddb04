#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (the `fuzz` preset, in
# build/fuzz) and runs each for a bounded time on a copy of its seed corpus,
# two at a time. Exits non-zero when a target finds a crash, a sanitizer
# report, a broken invariant or a time-out; the input that did it is kept in
# build/fuzz/findings/<target>/.
#
#   scripts/fuzz.sh                   every target, 20 s each
#   FUZZ_SECONDS=120 scripts/fuzz.sh form_reader_fuzzer
#   scripts/fuzz.sh --check           only whether clang and libFuzzer are here
set -uo pipefail
cd "$(dirname "$0")/.."

cxx=${FUZZ_CXX:-clang++-14}
cc=${FUZZ_CC:-clang-14}

# libFuzzer's runtime comes with the compiler's own runtime libraries
# (Debian: libclang-rt-14-dev); clang without it fails only when linking, so
# the check links an empty target.
fuzzer_runtime() {
    command -v "$cxx" >/dev/null 2>&1 || return 1
    local probe status
    probe=$(mktemp -d) || return 1
    echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' \
        >"$probe/probe.cpp"
    "$cxx" -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
        >/dev/null 2>&1
    status=$?
    rm -rf "$probe"
    return $status
}
if ! fuzzer_runtime; then
    echo "fuzz: $cxx or its libFuzzer runtime is missing (Debian: clang-14 libclang-rt-14-dev)"
    exit 2
fi
[ "${1:-}" = --check ] && exit 0

build=build/fuzz
seconds=${FUZZ_SECONDS:-20}
targets=("$@")
((${#targets[@]})) || targets=(stream_value_fuzzer form_reader_fuzzer port_names_fuzzer
                               line_reads_fuzzer com_port_protocol_fuzzer frame_decoder_fuzzer
                               recording_reader_fuzzer)

echo "== fuzz: configure and build ($cxx)"
log=$build/logs
mkdir -p "$log"
if ! cmake --preset fuzz -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
        >"$log/configure.log" 2>&1; then
    cat "$log/configure.log"
    exit 1
fi
if ! cmake --build "$build" -j2 --target "${targets[@]}" >"$log/build.log" 2>&1; then
    tail -n 60 "$log/build.log"
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs one target on a copy of its seeds, so that the inputs it adds stay
# out of the repository.
run_target() {
    local target=$1
    local findings=$build/findings/$target
    mkdir -p "$work/$target" "$findings"
    cp fuzz/corpus/"$target"/* "$work/$target"/ 2>/dev/null
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" \
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        "$build/bin/$target" "$work/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        >"$log/$target.log" 2>&1
}

failed=()
pids=()
names=()
# Waits for the oldest running target and reports it.
reap() {
    local status=0
    wait "${pids[0]}" || status=$?
    local target=${names[0]}
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
    local runs
    runs=$(awk '/stat::number_of_executed_units:/ { print $2 }' "$log/$target.log")
    if [ "$status" -eq 0 ]; then
        echo "[fuzz] $target: passed (${runs:-0} runs in ${seconds} s)"
    else
        echo "[fuzz] $target: FAILED (exit $status); input kept in $build/findings/$target/"
        grep -E 'broken invariant|ERROR: |runtime error:|SUMMARY:|Test unit written' \
            "$log/$target.log" | head -n 20
        failed+=("$target")
    fi
}

echo "== fuzz: ${#targets[@]} targets, ${seconds} s each, two at a time"
for target in "${targets[@]}"; do
    run_target "$target" &
    pids+=($!)
    names+=("$target")
    ((${#pids[@]} < 2)) || reap
done
while ((${#pids[@]})); do reap; done

if ((${#failed[@]})); then
    echo "fuzz: failed: ${failed[*]}"
    exit 1
fi
echo "fuzz: every target passed"
