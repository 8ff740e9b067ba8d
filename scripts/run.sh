#!/usr/bin/env bash
# Builds ZK News Reader, starts the local news server and the reader.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The local news server (127.0.0.1:119) stays up after the window closes.
bash scripts/news-server.sh start ||
  echo "run: the local news server did not start; the reader runs anyway" >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only the reader: the tests and benchmarks are built by scripts/test.sh.
cmake --build build -j2 --target zknews
# Without arguments the reader opens with the local server in its host box: press Connect.
exec build/src/ui/zknews "${@:-127.0.0.1}"
