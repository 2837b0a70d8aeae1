#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for a bounded time
# (FUZZ_SECONDS, default 60) from the committed seed corpus. Any crash, leak,
# sanitizer report or failed check fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDLS2MML_FUZZ=ON -DDLS2MML_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_round_trip fuzz_decode_stream fuzz_decode_document fuzz_decode_api fuzz_range_payloads fuzz_read_bank

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in round_trip decode_stream decode_document decode_api range_payloads read_bank; do
    corpus="$work/$target"
    mkdir -p "$corpus" "$work/artifacts-$target"
    # The C interface reads the same documents as the document reader.
    seeds=$target
    [[ $target == decode_api ]] && seeds=decode_document
    cp fuzz/corpus/"$seeds"/* "$corpus"/
    case $target in
        round_trip) max_len=65536 ;;
        *) max_len=131072 ;;
    esac
    echo "-- fuzz_$target for ${seconds}s"
    if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz/fuzz_$target" "$corpus" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout=30 -rss_limit_mb=2560 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts-$target/" >"$work/$target.log" 2>&1; then
        grep -E '^(Done|stat::number_of_executed_units)' "$work/$target.log" || true
    else
        status=1
        echo "fuzz_$target FAILED:"
        tail -n 60 "$work/$target.log"
        for artifact in "$work/artifacts-$target"/*; do
            [ -f "$artifact" ] && echo "input: $(basename "$artifact") ($(wc -c <"$artifact") bytes): $(head -c 256 "$artifact" | od -An -tx1 | head -n 4)"
        done
    fi
done
exit $status
