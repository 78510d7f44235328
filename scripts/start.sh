#!/usr/bin/env bash
# Installs what is missing, builds Velarix and starts the agent.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELARIX_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)" --target velarix
# The history is kept in the current directory: start the agent beside its settings and log.
cd build
exec ./velarix
