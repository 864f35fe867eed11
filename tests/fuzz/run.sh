#!/bin/bash
# Runs the fuzz targets of a fuzzing build (make fuzz) one after the other, at
# low priority, each for SECONDS: run.sh BUILD_DIR SECONDS [TARGET...].
# Each target grows its own corpus in BUILD_DIR/fuzz-runs/<target>/corpus
# (the committed seeds in corpus/<target> are read, never written); a crash
# or a sanitizer report leaves the input in .../artifacts and fails the run.
# FUZZ_FLAGS adds libFuzzer options (-runs=N, -jobs=N, ...).
set -u
build=$(cd "$1" && pwd)
seconds=$2
shift 2
src=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=($(cd "$src/corpus" && ls))
status=0
# The leak check itself, first: a block left unfreed on purpose
# (VELARION_FUZZ_LEAK) must be reported when the process ends, while the
# seeds alone leave no report (fontconfig's configuration is freed at exit).
t=${targets[0]}
out="$build/fuzz-runs/$t"
mkdir -p "$out"
"$build/bin/fuzz_$t" -runs=0 "$src/corpus/$t" > "$out/leak-clean.log" 2>&1
clean=$?
VELARION_FUZZ_LEAK=1 "$build/bin/fuzz_$t" -runs=0 "$src/corpus/$t" > "$out/leak-check.log" 2>&1
if [ $clean -eq 0 ] && ! grep -q LeakSanitizer "$out/leak-clean.log" &&
    grep -q "Direct leak of 4242 byte" "$out/leak-check.log"; then
    echo "== leak check: the seeds of $t leave no leak; a leak left on purpose is reported"
else
    echo "== leak check FAILED: see $out/leak-clean.log and $out/leak-check.log"
    status=1
fi
for t in "${targets[@]}"; do
    out="$build/fuzz-runs/$t"
    mkdir -p "$out/corpus" "$out/artifacts"
    dict=()
    [ -f "$src/dict/$t.dict" ] && dict=(-dict="$src/dict/$t.dict")
    echo "== $t: $seconds s"
    VELARION_FUZZ_WRITABLE="$out" nice -n 15 "$build/bin/fuzz_$t" -max_total_time="$seconds" \
        -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 -artifact_prefix="$out/artifacts/" \
        "${dict[@]}" ${FUZZ_FLAGS:-} "$out/corpus" "$src/corpus/$t" > "$out/log" 2>&1
    rc=$?
    grep -E "^#[0-9]+ *(DONE|pulse)|stat::|SUMMARY|ERROR" "$out/log" | tail -n 12
    if [ $rc -ne 0 ]; then
        echo "== $t FAILED (exit $rc): see $out/log and $out/artifacts/"
        status=1
    fi
done
exit $status
