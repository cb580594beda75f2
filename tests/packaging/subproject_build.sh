#!/usr/bin/env bash
# imutap inside another project (add_subdirectory): the programs build without a
# warning, and none of the tests or benchmarks are part of the build.
#   subproject_build.sh SOURCE_DIR CXX_COMPILER
set -euo pipefail
source=$1 compiler=$2
. "$(dirname "$0")/common.sh"
make_scratch

mkdir "$scratch/outer"
cat > "$scratch/outer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(outer LANGUAGES CXX)
add_subdirectory("$source" imutap)
CMAKE
cmake -S "$scratch/outer" -B "$scratch/build" -DCMAKE_CXX_COMPILER="$compiler" \
    > "$scratch/configure.txt" 2>&1 || { cat "$scratch/configure.txt"; fail "configure failed"; }
cmake --build "$scratch/build" --target help > "$scratch/targets.txt"
if grep -E "_tests$|imutap_bench" "$scratch/targets.txt"; then
    fail "tests or benchmarks are part of the outer build"
fi
cmake --build "$scratch/build" -j2 --target imutap > "$scratch/build.txt" 2>&1 ||
    { cat "$scratch/build.txt"; fail "build failed"; }
if grep -i "warning" "$scratch/build.txt"; then
    fail "the build warns"
fi
"$scratch/build/imutap/src/imutap" --version | grep -q "^AHRS Inertial Unit data reading " ||
    fail "the program built does not run"
