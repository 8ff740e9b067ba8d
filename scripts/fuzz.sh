#!/usr/bin/env bash
# Fuzzes every parser that takes bytes from a server or a file: builds the libFuzzer targets
# of tests/fuzz with clang (build-fuzz, the lower layers only) and runs each for SECONDS
# (default 60), starting from the demo articles and the codec samples.
# Exits non-zero when any target finds a crash, a leak, a timeout or a broken property; the
# input that did it is kept as build-fuzz/fuzz-artifacts/<target>-... and its path printed.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz: SECONDS must be a whole number of seconds, not '$seconds'" >&2
  exit 2
fi

dir=build-fuzz
echo "== fuzz: configure and build ($dir)"
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DZK_FUZZ=ON -DZK_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j2 --target zk_fuzz

articles=scripts/news-articles
codec_data=tests/codec/data
seeds=tests/fuzz/seeds
# Each target with the directories its first inputs come from.
declare -A target_seeds=(
  [summaryline]="$seeds/summaryline"
  [header]="$articles $seeds/header"
  [attachments]="$articles $seeds/mime $seeds/attachments"
  [uucode]="$codec_data"
  [base64]="$codec_data"
  [quotedprintable]="$codec_data $articles/zk.test.small"
  [codecblocks]="$codec_data"
  [yenc]="$articles/zk.test.yenc $seeds/yenc"
  [bodydisplay]="$articles $seeds/mime"
  [search]="$seeds/search"
  [settings]="$seeds/settings"
  [newsrc]="$seeds/newsrc"
  [threads]="$seeds/threads"
  [inflate]="$seeds/inflate"
)
# Options of a target beyond the common ones: a header field of encoded words is read in one
# piece, and hostile ones run to hundreds of kilobytes; so do deep chains of References.
declare -A target_options=(
  [header]="-max_len=600000"
  [threads]="-max_len=300000"
)
targets=(summaryline header attachments uucode base64 quotedprintable codecblocks yenc bodydisplay
         search settings newsrc threads inflate)

mkdir -p "$dir/fuzz-artifacts"
status=0
summary=()
for name in "${targets[@]}"; do
  corpus="$dir/fuzz-corpus/$name"
  log="$dir/fuzz-logs/$name.log"
  mkdir -p "$corpus" "$(dirname "$log")"
  echo "== fuzz: $name for ${seconds}s"
  # shellcheck disable=SC2086 # the seed list is split into directories on purpose
  if "$dir/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$dir/fuzz-artifacts/$name-" \
      ${target_options[$name]:-} "$corpus" ${target_seeds[$name]} >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("$(printf '%-16s %12s runs  %s' "$name" "${runs:-?}" "$result")")
done

echo "== fuzz: executions in ${seconds}s per target (logs in $dir/fuzz-logs)"
printf '%s\n' "${summary[@]}"
if [ $status -ne 0 ]; then
  echo "fuzz: a target failed; its input is in $dir/fuzz-artifacts" >&2
fi
exit $status
