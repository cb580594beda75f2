#!/usr/bin/env bash
# Builds imutap and passes every test: the native build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, imutap on Linux's own
# serial drivers in a virtual machine, and the Windows program cross-built and
# run under Wine. --quick runs the native tests only, without the virtual
# machine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

quick=no
[ "${1:-}" = "--quick" ] && quick=yes

if [ $quick = yes ]; then
    scripts/setup-debian.sh
else
    scripts/setup-debian.sh --windows --vm
fi

jobs=2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMUTAP_WERROR=ON
cmake --build build -j$jobs
ctest --test-dir build -j$jobs --output-on-failure -LE vm

[ $quick = yes ] && exit 0

echo "== imutap on Linux's serial drivers (16550 UART, FTDI USB adapter) in a virtual machine"
ctest --test-dir build -L vm --output-on-failure
# A tier that cannot run here is skipped with the reason, which ctest keeps in
# its log only: it is shown here.
grep -h "^vm tests not run: " build/Testing/Temporary/LastTest.log | sort -u || true

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DIMUTAP_SANITIZE=ON -DIMUTAP_BENCHMARKS=OFF \
    -DIMUTAP_WERROR=ON
cmake --build build-sanitize -j$jobs
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-sanitize -j$jobs --output-on-failure

if [ -x tests/windows/run-wine-tests.sh ]; then
    echo "== the Windows program under Wine"
    cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
        -DIMUTAP_WERROR=ON
    cmake --build build-windows -j$jobs
    tests/windows/run-wine-tests.sh build-windows/src/imutap.exe build
    echo "== the Windows zip"
    tests/packaging/windows_zip.sh build-windows build
fi
