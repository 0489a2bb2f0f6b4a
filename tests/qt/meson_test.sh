#!/usr/bin/env bash
# Builds the example help viewer with meson and Ninja (Qt 6), with tests/qt/meson's meson.build,
# which is the README's meson pattern: custom_target()s that run the tool with --output, --depfile
# and --stamp, then rcc with its depfile. After a clean build, and after files are added, deleted,
# renamed and changed (by hand in html/, and through the texts that make_pages.py turns into the
# build folder's api/), each after one build, the application must embed exactly the files of its
# folders; after every build, Ninja must have nothing left to do.
#   meson_test.sh <resweaver build folder> <tests/qt/helpviewer> <tests/qt/meson>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/project_lib.sh"
project=$(cd "$3" && pwd)
start_project "$1" "$2"
cp "$project/meson.build" "$project/api.qrc" .
export PATH="$work/prefix/bin:$PATH"

mkdir -p html/drafts "pages/more pages"
for name in "a page.html" "ünïcödé.html" "d\$llar.html"; do
  printf '<!DOCTYPE html>\n<title>%s</title>\n' "$name" >"html/$name"
  printf '%s\nAbout %s.\n' "${name%.html}" "$name" >"pages/more pages/${name%.html}.txt"
done
echo "not yet" >html/drafts/plans.html
logged "meson setup" meson setup "$work/build"

build_once() {  # $1: what changed since the last build
  logged "the build after $1" ninja -C "$work/build"
  check_embedded "$1" "$work/build/helpviewer" "/icons|.|icons" "/help|html|." \
    "/api|$work/build/api|."
  local explained
  explained=$(ninja -C "$work/build" -n -d explain 2>&1)
  if [[ $explained != *"no work to do." ]]; then
    echo "after $1, Ninja still has work to do:" >&2
    echo "$explained" >&2
    exit 1
  fi
}

build_once "a clean build"
printf '<!DOCTYPE html>\n<title>New</title>\n' >"html/guide/brand new ü.html"
printf 'Added\nA new page.\n' >"pages/more pages/added.txt"
echo draft >html/drafts/more.html
build_once "adding files"
rm "html/a page.html" "pages/more pages/ünïcödé.txt"
build_once "deleting files"
mv html/guide "html/moved guide"
mv "pages/more pages" "pages/renamed pages"
build_once "renaming files"
echo '<p>One more line.' >>html/index.html
printf 'Overview\nThe viewer shows every page of its resources.\n' >pages/overview.txt
build_once "changing the content of files"
echo "helpviewer built with meson embeds exactly its folders after every build"
