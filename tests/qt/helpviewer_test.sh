#!/usr/bin/env bash
# Builds the example help viewer (tests/qt/helpviewer) as its users do, against resweaver
# installed into a temporary prefix, and checks after every build that the application embeds
# exactly the files of its folders, with their current content: after a clean build, after files
# are added, deleted and renamed, after a content-only change, each after one build, both for the
# hand-written html/ and for the pages that the build generates into api/. File names hold
# spaces, '&', apostrophes, ';' and non-ASCII letters. A build without changes must compile and
# link nothing, and leave the .qrc files' times alone.
#   helpviewer_test.sh <resweaver build folder> <tests/qt/helpviewer> <ninja | make | qmake>
# ninja and make build the example's CMakeLists.txt (Qt 6), the make one with a second .qrc on
# the same target; qmake builds its helpviewer.pro (Qt 5), also with a second .qrc.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/project_lib.sh"
tool=$3
start_project "$1" "$2"

# Names that Qt's own reading of a .qrc by CMake gets wrong, in html/ and among the texts that
# make_pages.py turns into api/*.html.
mkdir -p "html/Q&A" "pages/Q&A"
for name in "a page.html" "don't panic.html" "x&y.html" "semi;colon.html" "ünïcödé.html" \
  "Q&A/what's new; part 1.html"; do
  printf '<!DOCTYPE html>\n<title>%s</title>\n' "$name" >"html/$name"
  printf '%s\nAbout %s.\n' "${name%.html}" "$name" >"pages/${name%.html}.txt"
done

# Every group that the application must hold: prefix, the .qrc's folder, the folder listed.
groups=("/icons|.|icons" "/help|.|html" "/api|.|api")
qrcs=(resources.qrc)
case $tool in
  ninja | make)
    generator=Ninja
    if [[ $tool == make ]]; then
      generator="Unix Makefiles"
      mkdir -p extra/notes
      printf '<RCC>\n</RCC>\n' >extra/resources.qrc
      printf '<!DOCTYPE html>\n<title>Notes</title>\n' >"extra/notes/first note.html"
      echo 'resweaver_add_resources(helpviewer QRC extra/resources.qrc HTML notes PREFIX /notes)' \
        >>CMakeLists.txt
      groups+=("/notes|extra|notes")
      qrcs+=(extra/resources.qrc)
    fi
    logged "configuring" cmake -S . -B build -G "$generator" -DCMAKE_PREFIX_PATH="$work/prefix"
    run_build() { cmake --build build --parallel "$(nproc)"; }
    ;;
  qmake)
    mkdir -p extra/notes
    printf '<RCC>\n</RCC>\n' >extra/resources.qrc
    printf '<!DOCTYPE html>\n<title>Notes</title>\n' >"extra/notes/first note.html"
    printf '%s\n' "notes.qrc = extra/resources.qrc" "notes.html = notes" "notes.prefix = /notes" \
      "RESWEAVER += notes" >>helpviewer.pro
    groups+=("/notes|extra|notes")
    qrcs+=(extra/resources.qrc)
    # The feature is found through QMAKEFEATURES; the tool through PATH.
    export PATH="$work/prefix/bin:$PATH"
    export QMAKEFEATURES
    QMAKEFEATURES=$(dirname "$(find "$work/prefix" -name resweaver.prf)")
    qmake=/usr/lib/qt5/bin/qmake
    [[ -x $qmake ]] || qmake=qmake-qt5
    mkdir build
    run_qmake() { (cd build && "$qmake" ../helpviewer.pro); }
    logged "qmake" run_qmake
    run_build() { make -C build -j "$(nproc)"; }
    ;;
  *) echo "unknown build tool $tool" >&2; exit 2 ;;
esac

build_once() {  # $1: what changed since the last build
  logged "the build after $1" run_build
  check "$1"
}

check() {  # the application's pages must equal the groups' folders, checksums included
  local expected actual
  # The build generated a page for every text, and only those.
  expected=$(cd pages && find . -name '*.txt' | sed 's/\.txt$/.html/' | sort)
  actual=$(cd api && find . -type f | sort)
  if [[ $expected != "$actual" ]]; then
    echo "after $1, api/ does not hold the pages of pages/ (<) :" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
  fi
  check_embedded "$1" "${groups[@]}"
  # SORTED: the listed groups are in bytewise order, component by component.
  python3 - resources.qrc <<'EOF'
import html, re, sys
text = open(sys.argv[1], encoding="utf-8").read()
for prefix, body in re.findall(r'<qresource prefix="([^"]*)">(.*?)</qresource>', text, re.S):
    files = [html.unescape(f) for f in re.findall(r"<file>(.*?)</file>", body)]
    if prefix in ("/help", "/api") and files != sorted(files, key=lambda f: f.split("/")):
        sys.exit(f"group {prefix} of {sys.argv[1]} is not sorted: {files}")
EOF
}

build_once "a clean build"

printf '<!DOCTYPE html>\n<title>New</title>\n' >"html/Q&A/brand-new; ünï.html"
printf 'Added\nA new page.\n' >"pages/Q&A/added & new.txt"
build_once "adding files"

rm "html/x&y.html" "pages/don't panic.txt"
build_once "deleting files"

mv "html/semi;colon.html" "html/guide/semi;colon, moved.html"
mv "pages/Q&A" "pages/questions ü"
build_once "renaming files"

echo '<p>One more line.' >>html/index.html
printf 'Overview\nThe viewer shows every page of its resources.\n' >pages/overview.txt
build_once "changing the content of files"

# A build without changes: no file is compiled, linked or rewritten, and no .qrc is touched.
check_nothing_done 'Re-running CMake|qmake -o' "${qrcs[@]}" -- run_build
echo "helpviewer built with $tool embeds exactly its folders after every build"
