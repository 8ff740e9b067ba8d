#!/usr/bin/env bash
# Runs every test: installs what is missing, starts the local news server, builds with warnings
# as errors, runs the whole suite, then builds and runs it again under AddressSanitizer and
# UndefinedBehaviorSanitizer, fuzzes every parser for a few seconds, and stops the news server.
# Exits non-zero on any failure. Extra arguments go to ctest (for example -R '^net\.').
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# The tests that need the local news server fail rather than skip when it does not answer.
# A server this run starts is stopped after both runs, also when something fails or the run
# is interrupted; one that was already running (someone is using it) is left running.
already_running=false
if bash scripts/news-server.sh status >/dev/null 2>&1; then
  already_running=true
fi
if ! bash scripts/news-server.sh start; then
  echo "test: the local news server did not start (see above)" >&2
  exit 1
fi
if [ "$already_running" = false ]; then
  trap 'bash scripts/news-server.sh stop' EXIT
fi
export ZK_REQUIRE_NEWS_SERVER=1

jobs=2
status=0

run_suite() {
  local dir=$1 label=$2; shift 2
  echo "== $label: configure and build ($dir)"
  cmake -S . -B "$dir" -G Ninja -DZK_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $label: tests"
  if ! (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest -j"$jobs" --output-on-failure "${ctest_args[@]}"); then
    status=1
  fi
}

ctest_args=("$@")
run_suite build "release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan "sanitizers" -DCMAKE_BUILD_TYPE=Debug -DZK_SANITIZE=ON
bash scripts/fuzz.sh 5 || status=1

exit $status
