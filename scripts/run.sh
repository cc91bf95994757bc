#!/usr/bin/env bash
# Installs what is needed, builds the application tree and starts Qsrf on the simulated bench.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/app -DQSRF_TREE=app -DQSRF_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/app -j"$(nproc)" --target Qsrf
exec build/app/app/Qsrf "$@"
