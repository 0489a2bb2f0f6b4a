#!/usr/bin/env bash
# A project that compiles its .qrc itself: the example help viewer with tests/qt/update_qrc's
# CMakeLists.txt, where two calls of resweaver_update_qrc() keep two groups of one .qrc, and
# qt_add_resources() compiles it (Qt 6, Ninja). After a clean build, after files are added,
# deleted and changed (each one build), the application must embed exactly the files of html/
# and api/, and a build without changes must compile and link nothing. File names hold spaces
# and non-ASCII letters, which Qt's own reading of the .qrc handles.
#   update_qrc_test.sh <resweaver build folder> <tests/qt/helpviewer> <tests/qt/update_qrc>
set -euo pipefail
build=$1
example=$2
project=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8

cmake --install "$build" --prefix "$work/prefix" >/dev/null
app="$work/help viewer"
cp -r "$example" "$app"
cp "$project/CMakeLists.txt" "$app/CMakeLists.txt"
cd "$app"
mkdir -p api/classes
for name in "a page.html" "ünïcödé.html" "classes/the viewer.html"; do
  printf '<!DOCTYPE html>\n<title>%s</title>\n' "$name" >"html/${name##*/}"
  printf '<!DOCTYPE html>\n<title>API %s</title>\n' "$name" >"api/$name"
done
cmake -S . -B build -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/log" 2>&1 ||
  { cat "$work/log"; exit 1; }

build_once() {  # $1: what changed since the last build
  if ! cmake --build build --parallel "$(nproc)" >"$work/log" 2>&1; then
    echo "the build after $1 failed:" >&2
    cat "$work/log" >&2
    exit 1
  fi
  local expected actual prefix folder
  expected=$(for prefix in /icons:icons /help:html /api:api; do
    folder=${prefix#*:}
    find "$folder" -type f -exec md5sum {} + | sed "s|  |  :${prefix%%:*}/|"
  done | sort)
  actual=$(build/helpviewer | sort)
  if [[ $expected != "$actual" ]]; then
    echo "after $1, the application's pages differ from the folders (<) :" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
  fi
}

build_once "a clean build"
printf '<!DOCTYPE html>\n<title>New</title>\n' >"api/classes/nouveauté.html"
build_once "adding a file"
rm "html/a page.html"
build_once "deleting a file"
echo '<p>One more line.' >>html/index.html
build_once "changing the content of a file"

# A build without changes: no file is compiled, linked or rewritten, and the .qrc keeps its time.
times() {
  stat -c '%n %.9Y' resources.qrc
  find build -type f \( -name '*.cpp' -o -name '*.o' -o -name helpviewer \) -printf '%p %T@\n'
}
before=$(times | sort)
cmake --build build >"$work/log" 2>&1
after=$(times | sort)
if [[ $before != "$after" ]] || grep 'Re-running CMake' "$work/log"; then
  echo "a build without changes did more than it should:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  cat "$work/log" >&2
  exit 1
fi
echo "resweaver_update_qrc keeps both groups for qt_add_resources"
