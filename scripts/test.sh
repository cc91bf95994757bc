#!/usr/bin/env bash
# Builds both trees with AddressSanitizer and UndefinedBehaviorSanitizer, and the library tree
# also in the Release configuration users install, and runs every test of each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

JOBS=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build/test-app -DQSRF_TREE=app -DQSRF_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/test-app -j"$JOBS"

# The library tree's tests are 32-bit programs: natively or through user-mode emulation
# (the configure step sees which).
echo "32-bit programs run: $(bash scripts/i386-exec.sh)"
cmake -S . -B build/test-lib -DQSRF_TREE=lib -DQSRF_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake >/dev/null
cmake --build build/test-lib -j"$JOBS"
# The library as users install it: the Release build, without sanitizers.
cmake -S . -B build/rel-lib -DQSRF_TREE=lib -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake >/dev/null
cmake --build build/rel-lib -j"$JOBS"

# The files the tests write are kept as the fuzz targets' seeds (scripts/fuzz.sh).
mkdir -p build/fuzz-seeds/app build/fuzz-seeds/lib
status=0
(cd build/test-app && QSRF_FUZZ_SEEDS="$PWD/../fuzz-seeds/app" ctest -j"$JOBS" --timeout 300 --output-on-failure) || status=1
(cd build/test-lib && QSRF_FUZZ_SEEDS="$PWD/../fuzz-seeds/lib" ctest -j"$JOBS" --timeout 300 --output-on-failure) || status=1
(cd build/rel-lib && ctest -j"$JOBS" --timeout 300 --output-on-failure) || status=1
exit $status
