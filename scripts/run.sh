#!/usr/bin/env bash
# Installs what is needed, builds the application tree and starts Qsrf on the simulated bench,
# with a settings store of the bench set-up's own (build/app/bench-settings), never the
# user's own settings.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "Qsrf is a desktop program and needs a display; on a machine without one run it under Xvfb: xvfb-run -a bash scripts/run.sh" >&2
    exit 1
fi
bash scripts/install-deps.sh
cmake -S . -B build/app -DQSRF_TREE=app -DQSRF_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/app -j"$(nproc)" --target Qsrf
# The bench set-up's settings, seeded from platform/bench/bench-settings.ini when missing
# (deleting build/app/bench-settings starts the set-up afresh on the next run).
settings="$PWD/build/app/bench-settings"
if [[ ! -e "$settings/vistrel/registry.ini" ]]; then
    mkdir -p "$settings/vistrel"
    cp platform/bench/bench-settings.ini "$settings/vistrel/registry.ini"
fi
XDG_CONFIG_HOME="$settings" exec build/app/app/Qsrf "$@"
