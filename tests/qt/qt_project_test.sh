#!/usr/bin/env bash
# A real user's project: installs resweaver into a temporary prefix, builds a Qt 6 application
# that uses find_package(resweaver), resweaver_update_qrc() and qt_add_resources(), and checks
# that the application embeds exactly the files of its HTML folder, after a file is added too,
# and that a build without changes rebuilds nothing.
#   qt_project_test.sh <resweaver build folder> <tests/qt_project>
set -euo pipefail
build=$1
project=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cp -r "$project" "$work/app"
cd "$work/app"
cmake -S . -B build -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null

check() {  # the application's resources must equal the files below html/
  diff <(build/helpviewer | sed 's|^:/||' | sort) <(find html -type f | sort)
}

cmake --build build >/dev/null
check
echo '<!DOCTYPE html><title>New</title>' > html/guide/new.html
cmake --build build >/dev/null
check
grep -q '<file>html/guide/new.html</file>' help.qrc
rm html/css/site.css
cmake --build build >/dev/null
check

# Nothing changed: the .qrc keeps its time, CMake does not configure again, and nothing is
# compiled or linked.
before=$(stat -c %y help.qrc build/helpviewer)
output=$(cmake --build build)
after=$(stat -c %y help.qrc build/helpviewer)
if [[ $before != "$after" ]] || grep -E -i 'Re-running CMake|Building|Linking|rcc' <<<"$output"; then
  echo "a build without changes did more than it should:" >&2
  echo "$output" >&2
  exit 1
fi
echo "the Qt project lists its HTML folder and rebuilds only on change"
