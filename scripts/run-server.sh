#!/usr/bin/env bash
# Builds pelora-server (in build-server/) and runs it in the foreground with the default
# data folder and port, or with the options given (e.g. --port 0 --data-dir /tmp/pelora).
# Ctrl-C ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-server -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORA_TESTS=OFF -DPELORA_BENCH=OFF \
  >/dev/null
cmake --build build-server -j2 --target pelora-server >/dev/null
exec build-server/server/pelora-server "$@"
