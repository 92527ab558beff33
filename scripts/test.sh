#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer, runs the whole test suite,
# then runs every fuzz harness for a short while on its seed corpus.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$(repo_root)
fuzz_seconds=${FUZZ_SECONDS:-10}

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"

echo "== build (ASan + UBSan)"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDUZEZ_SANITIZE=ON
cmake --build "$root/build-asan"

echo "== tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$root/build-asan" --output-on-failure -j "$(nproc)"

echo "== fuzz smoke (${fuzz_seconds} s each)"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DDUZEZ_FUZZ=ON -DDUZEZ_TESTS=OFF -DDUZEZ_BENCH=OFF -DDUZEZ_UI=OFF
cmake --build "$root/build-fuzz"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for harness in "$root"/build-fuzz/bin/fuzz_*; do
    name=$(basename "$harness")
    mkdir -p "$work/$name"
    # Seeds are copied so the run never adds files to the repository.
    cp -r "$root/fuzz/corpus/$name/." "$work/$name/" 2>/dev/null || true
    echo "-- $name"
    "$harness" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$work/$name" \
        >"$work/$name.log" 2>&1 || { tail -n 40 "$work/$name.log"; exit 1; }
    grep -E '^(Done|#[0-9]+ *DONE)' "$work/$name.log" | tail -n 1 || true
done
echo "== all tests and fuzz harnesses passed"
