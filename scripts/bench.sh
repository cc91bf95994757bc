#!/usr/bin/env bash
# Builds the benchmarks of both trees (optimised, no sanitizers) and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/bench-app -DQSRF_TREE=app -DQSRF_TESTS=OFF -DQSRF_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench-app -j"$(nproc)"
cmake -S . -B build/bench-lib -DQSRF_TREE=lib -DQSRF_TESTS=OFF -DQSRF_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake >/dev/null
cmake --build build/bench-lib -j"$(nproc)"
for b in $(find build/bench-app/bench build/bench-lib/bench -maxdepth 2 -type f -executable -name 'bench_*' 2>/dev/null | sort); do
  echo "== $b"; "$b"
done
