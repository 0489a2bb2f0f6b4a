#!/usr/bin/env bash
# A project that compiles its .qrc itself: the example help viewer with tests/qt/update_qrc's
# CMakeLists.txt, where two calls of resweaver_update_qrc() keep two groups of one .qrc (one with
# BASE and EXCLUDE), and qt_add_resources() compiles it (Qt 6, Ninja). After a clean build, after files are added,
# deleted and changed (each one build), the application must embed exactly the files of html/
# and api/, and a build without changes must compile and link nothing. File names hold spaces
# and non-ASCII letters, which Qt's own reading of the .qrc handles.
#   update_qrc_test.sh <resweaver build folder> <tests/qt/helpviewer> <tests/qt/update_qrc>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/project_lib.sh"
project=$(cd "$3" && pwd)
start_project "$1" "$2"
cp "$project/CMakeLists.txt" CMakeLists.txt
mkdir -p api/classes html/drafts
echo draft >html/drafts/plans.html
for name in "a page.html" "ünïcödé.html" "classes/the viewer.html"; do
  printf '<!DOCTYPE html>\n<title>%s</title>\n' "$name" >"html/${name##*/}"
  printf '<!DOCTYPE html>\n<title>API %s</title>\n' "$name" >"api/$name"
done
logged "configuring" cmake -S . -B build -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix"

build_once() {  # $1: what changed since the last build
  logged "the build after $1" cmake --build build --parallel "$(nproc)"
  check_embedded "$1" build/helpviewer "/icons|.|icons" "/help|html|." "/api|.|api"
}

build_once "a clean build"
printf '<!DOCTYPE html>\n<title>New</title>\n' >"api/classes/nouveauté.html"
build_once "adding a file"
rm "html/a page.html"
build_once "deleting a file"
echo '<p>One more line.' >>html/index.html
build_once "changing the content of a file"

# A build without changes: no file is compiled, linked or rewritten, and the .qrc keeps its time.
check_nothing_done 'Re-running CMake' build resources.qrc -- cmake --build build
echo "resweaver_update_qrc keeps both groups for qt_add_resources"
