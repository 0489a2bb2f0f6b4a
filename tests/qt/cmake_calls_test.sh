#!/usr/bin/env bash
# resweaver_add_resources() calls that CMake must refuse while it configures, each with a message
# that names what is wrong and where, and UPDATE_SOURCE, which keeps the project's own .qrc up to
# date (Qt 6, Ninja): after a build the committed .qrc lists the files, a build without changes
# runs no step, and a .qrc that the build cannot write fails the build with a message that says
# how to bring it up to date.
#   cmake_calls_test.sh <resweaver build folder> <tests/qt/helpviewer>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/project_lib.sh"
start_project "$1" "$2"
cp CMakeLists.txt CMakeLists.example
build=$work/build

# configure_fails <name> <expected message (extended regex)> <calls...>: the example's project
# with the calls in place of its resweaver_add_resources() calls must fail to configure, saying so.
configure_fails() {
  local name=$1 expected=$2
  shift 2
  sed '/^resweaver_add_resources/,$d' CMakeLists.example >CMakeLists.txt
  printf '%s\n' "$@" >>CMakeLists.txt
  rm -rf "$build"
  if cmake -S . -B "$build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/log" 2>&1; then
    echo "$name: CMake configured the project" >&2
    exit 1
  fi
  if ! tr -s ' \n' ' ' <"$work/log" | grep -Eq "$expected"; then
    echo "$name: CMake's message is not the one expected ($expected):" >&2
    cat "$work/log" >&2
    exit 1
  fi
}

here=$(pwd)
configure_fails "a repeated group" \
  "the group /help of $here/resources.qrc is given twice: in the call at \
$here/CMakeLists.txt:[0-9]+ and in the call at $here/CMakeLists.txt:[0-9]+" \
  "resweaver_add_resources(helpviewer QRC resources.qrc HTML html PREFIX /help)" \
  "resweaver_add_resources(helpviewer QRC resources.qrc HTML icons PREFIX /help)"
# Both lines are named: the first call's line is found by counting the calls.
first=$(grep -n '^resweaver_add_resources' CMakeLists.txt | head -1 | cut -d: -f1)
grep -q "CMakeLists.txt:$first " \
  <(tr -s ' \n' ' ' <"$work/log") || { cat "$work/log" >&2; exit 1; }
configure_fails "a mistyped HTML folder" \
  "the HTML folder $here/htlm does not exist \(HTML htlm is relative to the .qrc's folder\)" \
  "resweaver_add_resources(helpviewer QRC resources.qrc HTML htlm PREFIX /help)"
configure_fails "a group that the project's .qrc lacks" \
  "resources.qrc has no group with the prefix /docs: add <qresource prefix=\"/docs\"></qresource>" \
  "resweaver_add_resources(helpviewer QRC resources.qrc HTML html PREFIX /docs)"

# Where the generator reads no depfile (older CMake, or RESWEAVER_NO_DEPFILE), the steps run at
# every build, and rcc only when something changed.
cp CMakeLists.example CMakeLists.txt
rm -rf "$build"
logged "configuring without depfiles" cmake -S . -B "$build" -G "Unix Makefiles" \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DRESWEAVER_NO_DEPFILE=ON
logged "the build without depfiles" cmake --build "$build"
check_embedded "a build without depfiles" "$build/helpviewer" "/icons|.|icons" "/help|html|." \
  "/api|$build/api|."
echo '<p>new' >"html/guide/new page.html"
logged "the build without depfiles after adding a file" cmake --build "$build"
check_embedded "adding a file without depfiles" "$build/helpviewer" "/icons|.|icons" \
  "/help|html|." "/api|$build/api|."
cmake --build "$build" >"$work/log" 2>&1
if grep -E 'rcc:|Building|Linking' "$work/log"; then
  echo "without depfiles, a build without changes compiled the resources again" >&2
  exit 1
fi
rm "html/guide/new page.html"

# UPDATE_SOURCE: two groups of the committed .qrc, one of them with BASE and EXCLUDE; RCC_OPTIONS
# reach rcc. The project requires an older CMake than 3.20, whose policies leave depfiles as they
# are to Ninja.
mkdir -p html/drafts api/classes
echo draft >html/drafts/plan.html
printf '<!DOCTYPE html>\n<title>Viewer</title>\n' >"api/classes/the viewer & co.html"
sed -e '/^resweaver_add_resources/,$d' -e 's/^\(cmake_minimum_required(VERSION\) 3.20)$/\1 3.16)/' \
  CMakeLists.example >CMakeLists.txt
grep -q 'VERSION 3.16' CMakeLists.txt
cat >>CMakeLists.txt <<'EOF'
resweaver_add_resources(helpviewer QRC resources.qrc HTML html PREFIX /help BASE SORTED
  EXCLUDE drafts UPDATE_SOURCE RCC_OPTIONS --compress 9 --threshold 0)
resweaver_add_resources(helpviewer QRC resources.qrc HTML api PREFIX /api SORTED UPDATE_SOURCE)
EOF
rm -rf "$build"
logged "configuring with UPDATE_SOURCE" cmake -S . -B "$build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix"
logged "the build with UPDATE_SOURCE" cmake --build "$build"
check_embedded "a build with UPDATE_SOURCE" "$build/helpviewer" "/icons|.|icons" "/help|html|." \
  "/api|.|api"
grep -q '<file alias="guide/start.html">html/guide/start.html</file>' resources.qrc &&
  grep -q '<file>api/classes/the viewer &amp; co.html</file>' resources.qrc &&
  ! grep -q drafts resources.qrc || { cat resources.qrc >&2; exit 1; }
grep -q -- "--compress 9 --threshold 0" "$build/build.ninja" ||
  { echo "no RCC_OPTIONS" >&2; exit 1; }
[[ $(ninja -C "$build" -n) == *"no work to do." ]] || {
  ninja -C "$build" -n -d explain >&2
  exit 1
}
echo '<p>new' >html/new.html
logged "the build after adding a file" cmake --build "$build"
check_embedded "adding a file" "$build/helpviewer" "/icons|.|icons" "/help|html|." "/api|.|api"
[[ $(ninja -C "$build" -n) == *"no work to do." ]] || {
  ninja -C "$build" -n -d explain >&2
  exit 1
}

# A .qrc that the build cannot write: the build fails, saying how to bring it up to date.
echo '<p>another' >html/another.html
chmod -R a-w "$app"
if setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null; then
  chmod -R a+rwX "$build" "$work/prefix"
  chmod a+x "$work"
  build_command=(setpriv --reuid=nobody --regid=nogroup --clear-groups cmake --build "$build")
else
  build_command=(cmake --build "$build")
fi
if "${build_command[@]}" >"$work/log" 2>&1; then
  echo "the build wrote a .qrc that it cannot write" >&2
  cat "$work/log" >&2
  exit 1
fi
out_of_date="resources.qrc is out of date and cannot be written by the build. Bring it up to date"
tr -s ' \n' ' ' <"$work/log" | grep -q "$out_of_date by hand (resweaver" ||
  { cat "$work/log" >&2; exit 1; }
chmod -R u+w "$app"
echo "resweaver_add_resources refuses wrong calls while CMake configures, and UPDATE_SOURCE works"
