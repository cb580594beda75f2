#!/usr/bin/env bash
# A configure that cannot find GoogleTest or Google Benchmark succeeds and says
# what it leaves out.
#   configure_without_test_libraries.sh SOURCE_DIR CXX_COMPILER
set -euo pipefail
source=$1 compiler=$2
. "$(dirname "$0")/common.sh"
make_scratch

cmake -S "$source" -B "$scratch" -DCMAKE_CXX_COMPILER="$compiler" \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    > "$scratch/configure.txt" 2>&1 || { cat "$scratch/configure.txt"; fail "configure failed"; }
cat "$scratch/configure.txt"
grep -q "^-- GoogleTest not found: its tests are not built" "$scratch/configure.txt" ||
    fail "no word on the missing GoogleTest"
grep -q "^-- Google Benchmark not found: imutap_bench is not built" "$scratch/configure.txt" ||
    fail "no word on the missing Google Benchmark"
