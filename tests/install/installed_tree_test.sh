#!/usr/bin/env bash
# Installs the build folder $1 into a fresh prefix and checks what is there: the programs, the
# menu entry and the metainfo (validated by the tools desktops and software centres use), the
# icon the entry names, the manual pages (rendered without warnings, naming every command,
# option and exit status of zknews-cli --help), the installed programs' --help, and where the
# installed reader keeps its settings.
set -euo pipefail

build=$1
app_id=io.github.zknews.ZKNewsReader
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

failures=0
fail() {
  echo "install: $*" >&2
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >/dev/null

entry=$prefix/share/applications/$app_id.desktop
metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
cli_page=$prefix/share/man/man1/zknews-cli.1
for file in bin/zknews bin/zknews-cli "${entry#"$prefix"/}" "${metainfo#"$prefix"/}" \
  share/icons/hicolor/scalable/apps/$app_id.svg share/man/man1/zknews.1 "${cli_page#"$prefix"/}"; do
  [ -s "$prefix/$file" ] || fail "$file is missing or empty"
done
[ "$failures" -eq 0 ] || exit 1

# desktop-file-validate exits 0 on hints; any message at all is a fault here.
messages=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate failed"
[ -z "$messages" ] || fail "desktop-file-validate: $messages"
appstreamcli validate --no-net "$metainfo" >/dev/null || {
  appstreamcli validate --no-net "$metainfo" >&2 || true
  fail "appstreamcli validate failed"
}

entry_value() { sed -n "s/^$1=//p" "$entry"; }
[ "$(entry_value Categories)" = "Network;News;" ] || fail "the entry's categories are not Network;News;"
[ -n "$(entry_value Name)" ] && [ -n "$(entry_value Comment)" ] || fail "the entry has no Name or Comment"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$(entry_value Icon).svg" ] ||
  fail "the entry's icon $(entry_value Icon) is not installed"
# A browser hands news: and nntp: links to the reader, which takes the URL as its argument.
[ "$(entry_value MimeType)" = "x-scheme-handler/news;x-scheme-handler/nntp;" ] ||
  fail "the entry does not declare the news and nntp URL schemes"
[ "$(entry_value Exec)" = "zknews %u" ] || fail "the entry does not pass the URL: $(entry_value Exec)"
exec_program=$(entry_value Exec | cut -d' ' -f1)
[ -x "$prefix/bin/$exec_program" ] || fail "the entry starts $exec_program, which is not installed"

for page in "$prefix"/share/man/man1/*.1; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || true
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

# Without a display: --help must answer before anything needs one.
gui_help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/zknews" --help) ||
  fail "zknews --help exited with $?"
[[ "$gui_help" == "usage: zknews "* ]] || fail "zknews --help printed: $gui_help"

# Installed, the reader keeps its settings in the user's config folder, which it makes at
# start, not beside its program.
config_home=$prefix/config
XDG_CONFIG_HOME=$config_home QT_QPA_PLATFORM=offscreen "$prefix/bin/zknews" >/dev/null 2>&1 &
reader=$!
for _ in $(seq 150); do
  [ -d "$config_home/zknews" ] && break
  sleep 0.2
done
kill "$reader"
wait "$reader" 2>/dev/null || true
[ -d "$config_home/zknews" ] || fail "the installed reader made no settings folder in $config_home"

cli_help=$("$prefix/bin/zknews-cli" --help) || fail "zknews-cli --help exited with $?"
[[ "$cli_help" == "usage: zknews-cli "* ]] || fail "zknews-cli --help printed: $cli_help"

# The page's item headings (the line after each .TP) with escaped hyphens plain: every
# command and option has one of its own, not just a mention in the synopsis.
headings=$(sed 's/\\-/-/g' "$cli_page" | awk 'previous == ".TP" { print } { previous = $0 }')
has_heading() { grep -qE -- "(^|[^a-z-])$1([^a-z-]|\$)" <<<"$headings"; }
options=$(grep -oE -- '(^|[ [|])--?[a-z][a-z-]*' <<<"$cli_help" | tr -d ' [|' | sort -u)
commands=$(sed -n '/^Commands:/,/^Exit status/s/^  \([a-z][a-z]*\) .*/\1/p' <<<"$cli_help")
statuses=$(sed -n '/^Exit status/,$p' <<<"$cli_help" | grep -oE '\b[0-9]+\b' | sort -u)
[ -n "$options" ] && [ -n "$commands" ] && [ -n "$statuses" ] ||
  fail "zknews-cli --help lists no options, commands or exit statuses"
for name in $options $commands; do
  has_heading "$name" || fail "zknews-cli.1 does not describe $name"
done
for status in $statuses; do
  grep -qx "\.B $status" "$cli_page" || fail "zknews-cli.1 does not describe exit status $status"
done

[ "$failures" -eq 0 ] || exit 1
echo "install: the installed tree under $prefix is complete"
