#!/usr/bin/env bash
# Builds mcreg and runs its tests. Every build treats warnings as errors.
#   tools/test.sh            format and layering checks, normal build (build/) and all tests
#   tools/test.sh --asan     address + undefined-behaviour sanitizer build (build-asan/)
#   tools/test.sh --tsan     thread-sanitizer build of the cancellation and reader tests (build-tsan/)
#   tools/test.sh --fuzz     clang libFuzzer targets, each run for a bounded time (build-fuzz/)
#   tools/test.sh --all      all of the above, in that order
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Every C++ file is formatted as .clang-format says.
format() {
    local files
    mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null ||
        find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
    clang-format --dry-run --Werror "${files[@]}"
}

# The folders' include graph must follow the layering (tools/include-graph.sh).
layering() {
    local out
    if ! out=$(tools/include-graph.sh --check); then
        echo "$out"
        return 1
    fi
}

normal() {
    # Open MPI: the program is also built for mpirun, and its tests run it
    # on two and three processes. pybind11 and Debian's Python with numpy,
    # pandas, pytest and statsmodels: the Python package and its tests.
    tools/deps.sh libopenmpi-dev openmpi-bin pybind11-dev python3-dev python3-numpy python3-pandas \
        python3-pytest python3-statsmodels
    format
    layering
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMCREG_WERROR=ON >/dev/null
    cmake --build build -j "$jobs"
    ctest --test-dir build --output-on-failure -j "$jobs"
}

asan() {
    tools/deps.sh
    local f="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    # A build type of its own adds no flags. -O0 -g1: the sanitizers need no
    # optimisation and line tables serve their stack traces; both keep the
    # compile short.
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Sanitize -DCMAKE_CXX_FLAGS="-O0 -g1 $f" \
        -DMCREG_WERROR=ON -DMCREG_MPI=OFF -DMCREG_PYTHON=OFF \
        -DCMAKE_EXE_LINKER_FLAGS="$f" -DCMAKE_SHARED_LINKER_FLAGS="$f" >/dev/null
    cmake --build build-asan -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure -j "$jobs"
}

tsan() {
    tools/deps.sh
    local f="-fsanitize=thread -fno-omit-frame-pointer"
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$f" \
        -DMCREG_WERROR=ON -DMCREG_MPI=OFF -DMCREG_PYTHON=OFF \
        -DCMAKE_EXE_LINKER_FLAGS="$f" -DCMAKE_SHARED_LINKER_FLAGS="$f" >/dev/null
    # Only the programs that exercise cross-thread cancellation, and the
    # host's reader and fit in parts, which run on several threads, need this build.
    local targets=()
    for t in test_glm test_companion test_logistic test_host; do
        ninja -C build-tsan -t query "$t" >/dev/null 2>&1 && targets+=(--target "$t")
    done
    cmake --build build-tsan -j "$jobs" "${targets[@]}"
    TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure \
        -R 'Cancel|CsvReader|Streamed|Split'
}

fuzz() {
    tools/deps.sh clang-14 libfuzzer-14-dev libclang-rt-14-dev
    [ -f fuzz/CMakeLists.txt ] || { echo "no fuzz targets"; return 0; }
    local f="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMCREG_WERROR=ON \
        -DCMAKE_CXX_FLAGS="$f" -DCMAKE_EXE_LINKER_FLAGS="$f" -DCMAKE_SHARED_LINKER_FLAGS="$f" \
        -DMCREG_BUILD_FUZZ=ON -DMCREG_BUILD_TESTS=OFF -DMCREG_BUILD_HOST=OFF >/dev/null
    cmake --build build-fuzz -j "$jobs"
    local secs=${MCREG_FUZZ_SECONDS:-30}
    for t in build-fuzz/fuzz/fuzz_*; do
        [ -x "$t" ] || continue
        local corpus="build-fuzz/corpus/$(basename "$t")"
        mkdir -p "$corpus"
        echo "== $(basename "$t") for ${secs}s"
        local seeds=()
        [ -d "fuzz/seeds/$(basename "$t")" ] && seeds=("fuzz/seeds/$(basename "$t")")
        "$t" -max_total_time="$secs" "$corpus" "${seeds[@]}" >"$corpus.log" 2>&1 || { tail -n 60 "$corpus.log"; return 1; }
        tail -n 2 "$corpus.log"
    done
}

case "${1:-}" in
    "") normal ;;
    --asan) asan ;;
    --tsan) tsan ;;
    --fuzz) fuzz ;;
    --all)
        normal
        asan
        tsan
        fuzz
        # Every step stops the script on a failure, so reaching here means all
        # of them passed; close with the normal build's count.
        n=$(ctest --test-dir build -N | sed -n 's/^Total Tests: //p')
        echo "all: ${n} passed, 0 failed"
        ;;
    *) echo "usage: $0 [--asan|--tsan|--fuzz|--all]" >&2; exit 2 ;;
esac
