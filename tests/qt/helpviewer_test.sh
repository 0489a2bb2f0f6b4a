#!/usr/bin/env bash
# Builds the example help viewer (tests/qt/helpviewer, Qt 6) as its users do, against resweaver
# installed into a temporary prefix, from a read-only view of its source folder: the filled .qrc
# files live in the build folder, as do the API pages that the build generates. After a clean
# build, and after files are added, deleted and renamed, after a content-only change, each after
# one build, the application must embed exactly the files of its folders, at the resource paths
# that BASE gives (:/help/<path below html/>), without the excluded drafts and backups; the names
# hold spaces, '&', apostrophes, ';', '#', '$' and non-ASCII letters. After every build, a build
# without changes must have nothing to do, and the source folder must be unchanged, times included.
#   helpviewer_test.sh <resweaver build folder> <tests/qt/helpviewer> <ninja | make>
# ninja also fills a .qrc from a subfolder's CMakeLists.txt; make fills one that starts empty.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/project_lib.sh"
start_project "$1" "$2"
tool=$3

mkdir -p "html/Q&A" "pages/Q&A" html/drafts
for name in "a page.html" "don't panic.html" "x&y.html" "semi;colon.html" "ünïcödé.html" \
  "hash#and\$dollar.html" "Q&A/what's new; part 1.html"; do
  printf '<!DOCTYPE html>\n<title>%s</title>\n' "$name" >"html/$name"
  printf '%s\nAbout %s.\n' "${name%.html}" "$name" >"pages/${name%.html}.txt"
done
echo "not yet" >html/drafts/plans.html
echo "a backup" >html/index.html~

build=$work/build
groups=("/icons|.|icons" "/help|html|." "/api|$build/api|.")
mkdir -p extra/notes
printf '<!DOCTYPE html>\n<title>Notes</title>\n' >"extra/notes/first note.html"
case $tool in
  ninja)
    generator=Ninja
    # A .qrc filled from a subfolder's CMakeLists.txt, for a target of the top folder.
    printf '<RCC>\n\t<qresource prefix="/notes">\n\t</qresource>\n</RCC>\n' >extra/notes.qrc
    echo 'resweaver_add_resources(helpviewer QRC notes.qrc HTML notes PREFIX /notes)' \
      >extra/CMakeLists.txt
    echo 'add_subdirectory(extra)' >>CMakeLists.txt
    groups+=("/notes|extra|notes")
    nothing_to_do() {
      local explained
      explained=$(ninja -C "$build" -n -d explain 2>&1)
      echo "$explained"
      [[ $explained == *"no work to do." ]]
    }
    ;;
  make)
    generator="Unix Makefiles"
    # A .qrc that starts empty: the resource paths are relative to the source folder.
    echo 'resweaver_add_resources(helpviewer HTML extra/notes PREFIX /notes)' >>CMakeLists.txt
    groups+=("/notes|.|extra/notes")
    # make -n cannot tell: CMake takes a depfile into the Makefiles at the start of the next
    # make, which make -n does not run. The next make itself must run no step.
    nothing_to_do() {
      make -C "$build" 2>&1 | tee "$work/make.log"
      ! grep -E 'resweaver:|rcc:|Generating|Building|Linking' "$work/make.log"
    }
    ;;
  *) echo "unknown build tool $tool" >&2; exit 2 ;;
esac
make_read_only
logged "configuring" cmake -S "$source" -B "$build" -G "$generator" \
  -DCMAKE_PREFIX_PATH="$work/prefix"

build_once() {  # $1: what changed since the last build
  local expected actual
  expected=$(source_snapshot)
  logged "the build after $1" cmake --build "$build" --parallel "$(nproc)"
  check_embedded "$1" "$build/helpviewer" "${groups[@]}"
  # The build generated a page for every text, and only those.
  expected_pages=$(cd "$app/pages" && find . -name '*.txt' | sed 's/\.txt$/.html/' | sort)
  actual_pages=$(cd "$build/api" && find . -type f | sort)
  if [[ $expected_pages != "$actual_pages" ]]; then
    echo "after $1, api/ does not hold the pages of pages/ (<) :" >&2
    diff <(echo "$expected_pages") <(echo "$actual_pages") >&2 || true
    exit 1
  fi
  if ! nothing_to_do >"$work/log" 2>&1; then
    echo "after $1, a build without changes would still run a step:" >&2
    cat "$work/log" >&2
    exit 1
  fi
  actual=$(source_snapshot)
  if [[ $expected != "$actual" ]]; then
    echo "the build after $1 changed the source folder (<) :" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
  fi
}

build_once "a clean build"

edit eval 'printf "<!DOCTYPE html>\n<title>New</title>\n" >"html/Q&A/brand-new; ünï.html"
  printf "Added\nA new page.\n" >"pages/Q&A/added & new.txt"
  echo draft >html/drafts/more.html
  echo backup >"html/a page.html~"
  echo more >"extra/notes/second note.html"'
build_once "adding files"

edit rm "html/x&y.html" "pages/don't panic.txt" "extra/notes/first note.html"
build_once "deleting files"

edit mv "html/semi;colon.html" "html/Q&A/semi;colon, moved.html"
edit mv "pages/Q&A" "pages/questions ü"
build_once "renaming files"

edit eval 'echo "<p>One more line." >>"html/hash#and\$dollar.html"
  printf "Overview\nThe viewer shows every page of its resources.\n" >pages/overview.txt'
build_once "changing the content of files"

# A build without changes: no file is compiled, linked or rewritten.
check_nothing_done 'Re-running CMake|resweaver:|rcc:|Generating|Building|Linking' "$build" -- \
  cmake --build "$build"
echo "helpviewer built with $tool embeds exactly its folders after every build"
