#!/usr/bin/env bash
# Runs a built resweaver on a copy of examples/site as the README shows, compares the .qrc it
# writes byte for byte, and checks that --check then finds it up to date.
#   example_check.sh [--windows] [emulator] <resweaver>
# for example scripts/wine-run build-windows/resweaver.exe for the Windows build under Wine. With
# --windows, entries are expected with backslashes and lines with CR LF ends.
set -euo pipefail
separator=/ end=
if [[ $1 == --windows ]]; then
  separator='\' end=$'\r'
  shift
fi
tool=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$(dirname "${BASH_SOURCE[0]}")/../../examples/site" "$work/site"

"${tool[@]}" --sort "$work/site" app html /help
lines=('<RCC version="1.0">' $'\t<qresource prefix="/help">')
for entry in css/style.css guide/install.html guide/usage.html img/logo.svg index.html \
  js/search.js; do
  path=html/$entry
  [[ $separator == / ]] || path=${path//\//\\}
  lines+=($'\t\t<file>'"$path</file>")
done
lines+=($'\t</qresource>' $'\t<qresource prefix="/icons">'
  $'\t\t<file alias="logo.svg">icons/logo.svg</file>' $'\t</qresource>' '</RCC>' '')
printf "%s$end\n" "${lines[@]}" >"$work/expected"
if ! cmp "$work/expected" "$work/site/app.qrc"; then
  diff "$work/expected" "$work/site/app.qrc" >&2 || true
  exit 1
fi
"${tool[@]}" --check --sort "$work/site" app html /help
echo "${tool[*]}: the example's .qrc as expected"
