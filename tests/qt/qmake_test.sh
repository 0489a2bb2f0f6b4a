#!/usr/bin/env bash
# Builds the example help viewer's helpviewer.pro with qmake and the installed feature, as its
# users do: after a clean make, and after files are added, deleted, renamed and changed (by hand
# in html/, and through the texts that make_pages.py turns into api/), each after one make, the
# application must embed exactly the files of its folders at the paths that base gives, without
# the excluded drafts and backups. After every make, make -n must have nothing to do for the
# resources, and a make without changes must compile and link nothing.
#   qmake_test.sh <resweaver build folder> <tests/qt/helpviewer> <qt5 | qt6 | busybox>
# qt5 loads the feature with CONFIG += resweaver, the others with load(resweaver). busybox builds
# with Qt 6 and Debian's busybox applets first in PATH, as a stand-in for a BSD userland: the rules
# must use only POSIX utilities and options.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/project_lib.sh"
variant=$3
start_project "$1" "$2"

mkdir -p "html/guide/more pages" html/drafts
for name in "a page.html" "ünïcödé.html" "guide/more pages/hash#and\$dollar.html"; do
  printf '<!DOCTYPE html>\n<title>%s</title>\n' "$name" >"html/$name"
  printf '%s\nAbout %s.\n' "${name%.html}" "$name" >"pages/${name##*/}.txt"
done
echo "not yet" >html/drafts/plans.html
echo "a backup" >html/index.html~

# The feature is installed for both Qt versions; qmake finds it through QMAKEFEATURES, the tool
# through PATH.
case $variant in
  # Qt 5 loads the feature through CONFIG, as older projects do.
  qt5)
    qmake=/usr/lib/qt5/bin/qmake
    major=5
    sed -i 's/^load(resweaver)$/CONFIG += resweaver/' helpviewer.pro
    grep -q '^CONFIG += resweaver$' helpviewer.pro
    ;;
  qt6 | busybox) qmake=qmake6; major=6 ;;
  *) echo "unknown variant $variant" >&2; exit 2 ;;
esac
features=$(dirname "$(find "$work/prefix" -path "*qt$major/mkspecs/features/resweaver.prf")")
[[ -f $features/resweaver.prf ]] || { echo "no feature installed for Qt $major" >&2; exit 1; }
export QMAKEFEATURES=$features
export PATH="$work/prefix/bin:$PATH"
if [[ $variant == busybox ]]; then
  # Every applet of busybox, first in PATH; the shell that make starts is busybox's too.
  mkdir "$work/busybox"
  for applet in $(busybox --list); do
    ln -s "$(command -v busybox)" "$work/busybox/$applet"
  done
  userland=(env "PATH=$work/busybox:$PATH")
  make_shell=(SHELL="$work/busybox/sh")
else
  userland=()
  make_shell=()
fi

mkdir build
run_qmake() { (cd build && "${userland[@]}" "$qmake" ../helpviewer.pro); }
logged "qmake" run_qmake
# The tool that qmake found is in the Makefile with its absolute path.
grep -q "^	$work/prefix/bin/resweaver --depfile" build/Makefile ||
  { echo "the Makefile does not run $work/prefix/bin/resweaver" >&2; exit 1; }
run_make() { "${userland[@]}" make -C build -j "$(nproc)" "${make_shell[@]}"; }

build_once() {  # $1: what changed since the last build
  logged "the make after $1" run_make
  check_embedded "$1" build/helpviewer "/icons|.|icons" "/help|html|." "/api|api|."
  if "${userland[@]}" make -C build -n "${make_shell[@]}" | grep -E 'resweaver|rcc|make_pages'; then
    echo "after $1, make -n still has resources to make" >&2
    exit 1
  fi
}

build_once "a clean make"
printf '<!DOCTYPE html>\n<title>New</title>\n' >"html/guide/more pages/brand new ü.html"
printf 'Added\nA new page.\n' >"pages/added page.txt"
echo draft >html/drafts/more.html
build_once "adding files"
rm "html/a page.html" "pages/ünïcödé.html.txt"
build_once "deleting files"
mv "html/guide/more pages" "html/guide/moved pages"
mv "pages/added page.txt" "pages/renamed page.txt"
build_once "renaming files"
echo '<p>One more line.' >>html/index.html
printf 'Overview\nThe viewer shows every page of its resources.\n' >pages/overview.txt
build_once "changing the content of files"

check_nothing_done 'resweaver|rcc|make_pages|qmake -o|g\+\+' build resources.qrc -- run_make
echo "helpviewer built with qmake ($variant) embeds exactly its folders after every make"
