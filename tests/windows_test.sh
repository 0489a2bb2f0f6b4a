#!/usr/bin/env bash
# The Windows build as users meet it, run under Wine: backslash entry texts, names in their stored
# letter case, CR LF line ends, the usage text in GBK, strict narrow names and drives without a
# relative form. Every case compares the exact bytes written.
#   windows_test.sh <emulator> <resweaver.exe> <wine prefix folder>
set -euo pipefail
wine=$1  # CMAKE_CROSSCOMPILING_EMULATOR: Wine, quiet
exe=$2
export WINEPREFIX=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

windows() {  # the Windows name of a Linux path: Wine's drive Z: is the Linux root
  printf 'Z:%s' "${1//\//\\}"
}

# run NAME EXPECTED_STATUS EXPECTED_OUTPUT_FILE ARGS... : runs the tool, compares status and output
run() {
  local name=$1 status=$2 output=$3
  shift 3
  local actual=0
  "$wine" "$exe" "$@" >"$work/out" 2>"$work/err" </dev/null || actual=$?
  if [[ $actual != "$status" ]] || ! cmp -s "$work/out" "$output" || [[ -s $work/err ]]; then
    echo "FAIL $name: status $actual (expected $status), output:" >&2
    od -c "$work/out" | head -20 >&2
    failures=$((failures + 1))
    return 1
  fi
}

# same NAME FILE EXPECTED_BYTES_FILE
same() {
  if ! cmp -s "$2" "$3"; then
    echo "FAIL $1: the file holds" >&2
    od -c "$2" | head -40 >&2
    failures=$((failures + 1))
  fi
}

: >"$work/empty"
mkdir -p "$WINEPREFIX"
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true  # the first start creates the prefix

# The worked example: the entries index.html and app.js, 202 bytes, every line ending in CR LF.
# The .qrc lies beside the site (rcname ..\qrc\app), so that the HTML folder "." lists only them.
proj=$work/proj
mkdir -p "$proj/Html/css" "$proj/web" "$proj/site" "$proj/qrc"
printf '%s\r\n' '<?xml version="1.0" encoding="UTF-8"?>' '<!DOCTYPE RCC>' '<RCC version="1.0">' \
  '    <!-- generated pages -->' "    <qresource prefix='/'>" '        <file>old.html</file>' \
  '    </qresource>' '    <qresource prefix="/img">' \
  '        <file alias="logo">logo&#46;png</file>' '    </qresource>' '</RCC>' >"$work/example.qrc"
cp "$work/example.qrc" "$proj/qrc/app.qrc"
: >"$proj/site/index.html"
: >"$proj/site/app.js"
run "worked example" 0 "$work/empty" "$(windows "$proj/site")" '..\qrc\app' . / || true
matched=0
for order in "index.html app.js" "app.js index.html"; do  # the listing order is the volume's
  set -- $order
  printf '%s\r\n' '<RCC version="1.0">' $'\t<qresource prefix="/">' $'\t\t<file>'"$1"'</file>' \
    $'\t\t<file>'"$2"'</file>' $'\t</qresource>' $'\t<qresource prefix="/img">' \
    $'\t\t<file alias="logo">logo.png</file>' $'\t</qresource>' '</RCC>' '' >"$work/expected"
  if cmp -s "$proj/qrc/app.qrc" "$work/expected"; then
    matched=1
  fi
done
((matched)) || same "worked example" "$proj/qrc/app.qrc" "$work/expected"
[[ $(stat -c %s "$proj/qrc/app.qrc") == 202 ]] || {
  echo "FAIL worked example: $(stat -c %s "$proj/qrc/app.qrc") bytes, not 202" >&2
  failures=$((failures + 1))
}

# Backslashes, forward slashes in an argument, and another letter case than on disk: the texts
# show the names as the volume stores them.
: >"$proj/Html/css/site.css"
: >"$proj/Html/index.html"
printf '<RCC/>' >"$proj/app.qrc"
run "letter case" 0 "$work/empty" "z:${proj^^}" app 'hTML' / &&
  grep -q $'<file>Html\\\\css\\\\site.css</file>\r$' "$proj/app.qrc" &&
  grep -q $'<file>Html\\\\index.html</file>\r$' "$proj/app.qrc" ||
  { echo "FAIL letter case: $(cat "$proj/app.qrc")" >&2; failures=$((failures + 1)); }

# An HTML folder beside the root: the texts climb with ..\ .
mkdir -p "$proj/app"
: >"$proj/web/a.html"
printf '<RCC/>' >"$proj/app/app.qrc"
printf '%s\r\n' '<RCC>' $'\t<qresource prefix="/">' $'\t\t<file>..\\web\\a.html</file>' \
  $'\t</qresource>' '</RCC>' '' >"$work/expected"
run "climbing" 0 "$work/empty" "$(windows "$proj/app")" app '..\web' / &&
  same "climbing" "$proj/app/app.qrc" "$work/expected"

# A CR LF inside a text comes out as CR CR LF.
printf '<RCC>\r\n<q a="x"><file>\r\n  x.html\r\n</file></q></RCC>' >"$proj/app.qrc"
printf '<RCC>\r\n\t<q a="x">\r\n\t\t<file>\r\r\n  x.html\r\r\n</file>\r\n\t</q>\r\n\t<qresource prefix="/web"/>\r\n</RCC>\r\n\r\n' \
  >"$work/expected"
mkdir -p "$proj/empty"
run "CR LF in a text" 0 "$work/empty" "$(windows "$proj")" app empty /web &&
  same "CR LF in a text" "$proj/app.qrc" "$work/expected"

# The usage text in GBK, each line ending in CR LF.
printf '\xb4\xb4\xbd\xa8\xb0\xfc\xba\xachtml\xb5\xc4qrc\xd7\xca\xd4\xb4\xce\xc4\xbc\xfe\xa3\xac\xca\xb9\xd3\xc3\xb7\xbd\xb7\xa8\xa3\xbaresweaver.exe folder rcname html prefix:\r\n\t folder: \xce\xc4\xbc\xfe\xbc\xd0\r\n\t rcname: QT\xd7\xca\xd4\xb4\xc3\xfb\xb3\xc6\r\n\t html: \xc9\xfa\xb3\xc9\xb5\xc4Html\xc4\xbf\xc2\xbc\xc3\xfb\xb3\xc6\r\n\t prefix: \xd7\xca\xd4\xb4\xc7\xb0\xd7\xba\r\n' \
  >"$work/usage"
run "usage" 255 "$work/usage" "$(windows "$proj")" app Html || true

# A name that the ANSI code page cannot represent: the system's no-mapping message, file unchanged.
mkdir -p "$proj/wide"
: >"$proj/wide/$(printf '\xe4\xb8\xad').html"
cp "$work/example.qrc" "$proj/app.qrc"
printf 'No Unicode translation\r\n' >"$work/message"  # Wine's words for ERROR_NO_UNICODE_TRANSLATION
run "no mapping" 255 "$work/message" "$(windows "$proj")" app wide / || true
same "no mapping leaves the file" "$proj/app.qrc" "$work/example.qrc"

# An HTML folder on another drive than the root has no relative form.
mkdir -p "$WINEPREFIX/drive_c/resweaver-test/html"
: >"$WINEPREFIX/drive_c/resweaver-test/html/a.html"
printf 'cannot make C:\\resweaver-test\\html\\a.html relative to %s\r\n' "$(windows "$proj")" \
  >"$work/message"
run "another drive" 255 "$work/message" "$(windows "$proj")" app 'C:\resweaver-test\html' / || true
same "another drive leaves the file" "$proj/app.qrc" "$work/example.qrc"

# --sort orders the texts bytewise (upper case first), not in the volume's order; --base gives
# aliases with / while the texts keep their backslashes, ordered by alias; --exclude ignores the
# case of ASCII letters and takes either separator.
opts=$work/opts
mkdir -p "$opts/html/Sub" "$opts/html/css" "$opts/html/Maps"
for name in b.html a.html Y.html 'a&b.MAP' Sub/x.css css/site.css Maps/m.js; do
  : >"$opts/html/$name"
done
printf '<RCC/>' >"$opts/app.qrc"
printf '%s\r\n' '<RCC>' $'\t<qresource prefix="/">' $'\t\t<file>html\\Maps\\m.js</file>' \
  $'\t\t<file>html\\Sub\\x.css</file>' $'\t\t<file>html\\Y.html</file>' \
  $'\t\t<file>html\\a&amp;b.MAP</file>' $'\t\t<file>html\\a.html</file>' \
  $'\t\t<file>html\\b.html</file>' $'\t\t<file>html\\css\\site.css</file>' \
  $'\t</qresource>' '</RCC>' '' >"$work/expected"
run "sorted" 0 "$work/empty" --sort "$(windows "$opts")" app html / &&
  same "sorted" "$opts/app.qrc" "$work/expected"
printf '%s\r\n' '<RCC>' $'\t<qresource prefix="/">' \
  $'\t\t<file alias="Y.html">html\\Y.html</file>' $'\t\t<file alias="a.html">html\\a.html</file>' \
  $'\t\t<file alias="b.html">html\\b.html</file>' \
  $'\t\t<file alias="css/site.css">html\\css\\site.css</file>' \
  $'\t</qresource>' '</RCC>' '' >"$work/expected"
run "aliases and exclusions" 0 "$work/empty" --base --sort --exclude '*.map' --exclude 'sub/' \
  --exclude 'MAPS\m.JS' "$(windows "$opts")" app html / &&
  same "aliases and exclusions" "$opts/app.qrc" "$work/expected"

# The calls that carry the save's promises, traced by Wine's relay (no other check misses a call
# that is left out): every handle opened for writing, the new file or the .qrc itself in place, is
# flushed after its last write or end-of-file, and a new file is put in place only after that.
traced_calls=(CreateFileW WriteFile SetEndOfFile FlushFileBuffers ReplaceFileW MoveFileExW)
traced_calls=("${traced_calls[@]/#/KERNEL32.}")
"$wine" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /f \
  /d "$(IFS=';'; echo "${traced_calls[*]}")" >/dev/null 2>&1
relay_wine=/usr/lib/wine/wine64  # the emulator's Wine, without its WINEDEBUG=-all
promises='
  function handle(line) { sub(/^[^(]*\(/, "", line); sub(/[,)].*/, "", line); return line }
  /Call KERNEL32\.CreateFileW\(/ { writing = /,40000000,/ }
  /Ret  KERNEL32\.CreateFileW\(\) retval=/ {
    if (writing) { h = $0; sub(/.*retval=/, "", h); sub(/ .*/, "", h); opened[h] = 1 }
    writing = 0
  }
  /Call KERNEL32\.(WriteFile|SetEndOfFile)\(/ {
    h = handle($0)
    if (h in opened) dirty[h] = written = 1
  }
  /Call KERNEL32\.FlushFileBuffers\(/ { dirty[handle($0)] = 0 }
  /Call KERNEL32\.(ReplaceFileW|MoveFileExW)\(/ {
    put = 1
    for (h in dirty) if (dirty[h]) { print "put in place before it was flushed"; bad = 1 }
  }
  END {
    for (h in dirty) if (dirty[h]) { print "written and never flushed"; bad = 1 }
    if (!written) { print "nothing written"; bad = 1 }
    if (put != placed) {
      print placed ? "nothing put in place" : "a new file put in place"
      bad = 1
    }
    exit bad
  }'
# traced NAME PLACED ARGS...: a run that succeeds silently, traced; PLACED is 1 where a new file
# must be put in place, 0 where the .qrc is rewritten in place.
traced() {
  local name=$1 placed=$2
  shift 2
  local status=0
  WINEDEBUG=+relay "$relay_wine" "$exe" "$@" >"$work/out" 2>"$work/relay" </dev/null || status=$?
  if [[ $status != 0 || -s $work/out ]] || ! awk -v placed="$placed" "$promises" "$work/relay" \
    >"$work/order"; then
    echo "FAIL $name: status $status, $(cat "$work/out" "$work/order")" >&2
    failures=$((failures + 1))
    return 1
  fi
}

# The save replaces the file: a changed run leaves a new file (a new inode, seen from Linux), a run
# that changes nothing leaves the file and its time alone, a hard-linked file is rewritten in place
# (both names show the new bytes), and a leftover of a killed run is removed, while a user's files
# that only look like one stay.
save=$work/save
mkdir -p "$save/html"
: >"$save/html/a.html"
printf '<RCC/>' >"$save/app.qrc"
: >"$save/.app.qrc.resweaver-AbC123"
lookalikes=(.app.qrc.resweaver-AbC12 .app.qrc.resweaver-AbC1234 .app.qrc.resweaver-AbC_23
  .app.qrc.resweaver-AbC12$'\xc3\xa9' .app.qrc.resweaver-AbC12.)
for name in "${lookalikes[@]}"; do
  : >"$save/$name"
done
inode=$(stat -c %i "$save/app.qrc")
printf '%s\r\n' '<RCC>' $'\t<qresource prefix="/">' $'\t\t<file>html\\a.html</file>' \
  $'\t</qresource>' '</RCC>' '' >"$work/expected"
traced "replaced" 1 "$(windows "$save")" app html / &&
  same "replaced" "$save/app.qrc" "$work/expected"
[[ $(stat -c %i "$save/app.qrc") != "$inode" ]] ||
  { echo "FAIL replaced: the file kept its inode" >&2; failures=$((failures + 1)); }
for name in "${lookalikes[@]}"; do
  [[ -e $save/$name ]] || { echo "FAIL replaced: $name removed" >&2; failures=$((failures + 1)); }
  rm -f -- "$save/$name"
done
[[ $(ls -A "$save") == $'app.qrc\nhtml' ]] ||
  { echo "FAIL replaced: beside the file: $(ls -A "$save")" >&2; failures=$((failures + 1)); }
before=$(stat -c '%i %Y.%y' "$save/app.qrc")
sleep 1
run "unchanged" 0 "$work/empty" "$(windows "$save")" app html / &&
  [[ $(stat -c '%i %Y.%y' "$save/app.qrc") == "$before" ]] ||
  { echo "FAIL unchanged: the file was written" >&2; failures=$((failures + 1)); }
printf '<RCC/>%300s' '' >"$save/app.qrc"  # longer than the new text: the rest must go
ln "$save/app.qrc" "$save/link.qrc"
inode=$(stat -c %i "$save/app.qrc")
traced "hard link" 0 "$(windows "$save")" app html / &&
  same "hard link" "$save/link.qrc" "$work/expected"
[[ $(stat -c %i "$save/app.qrc") == "$inode" ]] ||
  { echo "FAIL hard link: the file was replaced" >&2; failures=$((failures + 1)); }

# --output into a folder that does not exist yet: the template stays, the paths climb from the
# output's folder with an alias that keeps the resource path; the depfile and the stamp follow.
out=$work/out-project
mkdir -p "$out/src/html"
: >"$out/src/html/a.html"
printf '<RCC/>' >"$out/src/app.qrc"
printf '%s\r\n' '<RCC>' $'\t<qresource prefix="/">' \
  $'\t\t<file alias="html\\a.html">..\\..\\src\\html\\a.html</file>' $'\t</qresource>' '</RCC>' '' \
  >"$work/expected"
run "output" 0 "$work/empty" --output "$(windows "$out/build/deep/app.qrc")" \
  --depfile "$(windows "$out/build/app.d")" --stamp "$(windows "$out/build/app.stamp")" \
  "$(windows "$out/src")" app html / &&
  same "output" "$out/build/deep/app.qrc" "$work/expected"
[[ $(cat "$out/src/app.qrc") == '<RCC/>' && -f $out/build/app.stamp ]] &&
  head -1 "$out/build/app.d" | grep -q '^Z\\:.*app.stamp: \\'$'\r''$' ||
  { echo "FAIL output: template, stamp or depfile: $(head -3 "$out/build/app.d")" >&2
    failures=$((failures + 1)); }
[[ $(ls -A "$out/build/deep") == app.qrc ]] ||
  { echo "FAIL output: beside the file: $(ls -A "$out/build/deep")" >&2; failures=$((failures + 1)); }

# A read-only .qrc is refused before anything is written: no new file appears beside it, even for a
# moment, so the folder keeps its time.
rm "$save/link.qrc"
printf '<RCC/>' >"$save/app.qrc"
chmod a-w "$save/app.qrc"
folder_time=$(stat -c %y "$save")
printf 'cannot write file %s\\app.qrc: Access denied\r\n' "$(windows "$save")" >"$work/message"
run "read-only" 255 "$work/message" "$(windows "$save")" app html / || true
same "read-only leaves the file" "$save/app.qrc" <(printf '<RCC/>')
[[ $(stat -c %y "$save") == "$folder_time" ]] ||
  { echo "FAIL read-only: the folder was written" >&2; failures=$((failures + 1)); }

# Another program replaces the .qrc by rename, without the lock, while the run flushes its new file
# (held there for two seconds by strace): the run fails and the replacement stays.
# (Where strace cannot trace, as in some containers, this is left out.)
chmod u+w "$save/app.qrc"
if strace -f -o /dev/null true 2>/dev/null; then
  printf '<RCC><other/></RCC>' >"$work/replacement"
  strace -f -o "$work/delayed" -e trace=fsync -e inject=fsync:delay_enter=2000000:when=1 \
    "$wine" "$exe" "$(windows "$save")" app html / >"$work/out" 2>/dev/null </dev/null &
  for i in $(seq 3000); do
    n=$(grep -sc 'fsync(' "$work/delayed" || true)
    ((${n:-0} == 0)) || break
    sleep 0.01
  done
  cp "$work/replacement" "$save/swap" && mv "$save/swap" "$save/app.qrc"
  status=0
  wait $! || status=$?
  printf 'cannot write file %s\\app.qrc: the file was replaced during the run\r\n' \
    "$(windows "$save")" >"$work/message"
  [[ $status == 255 ]] && cmp -s "$work/out" "$work/message" || {
    echo "FAIL replaced meanwhile: status $status, $(cat "$work/out")" >&2
    failures=$((failures + 1))
  }
  same "replaced meanwhile keeps the replacement" "$save/app.qrc" "$work/replacement"
  [[ $(ls -A "$save") == $'app.qrc\nhtml' ]] || {
    echo "FAIL replaced meanwhile: beside the file: $(ls -A "$save")" >&2
    failures=$((failures + 1))
  }
fi

# Parallel runs on one .qrc, each filling its own group, one over a large folder so that the others
# wait for the lock: the file they waited for is replaced meanwhile, and a run may open it while
# another puts its new file in place. Every group lands.
par=$work/parallel
mkdir -p "$par/big"
(cd "$par/big" && seq -f 'page%g.html' 3000 | xargs touch)
printf '<RCC/>' >"$par/app.qrc"
pids=()
for n in big 1 2 3 4; do
  [[ $n == big ]] || { mkdir -p "$par/$n" && : >"$par/$n/a.html"; }
  "$wine" "$exe" "$(windows "$par")" app "$n" "/$n" >"$work/parallel-$n" 2>&1 </dev/null &
  pids+=($!)
  [[ $n != big ]] || sleep 0.3
done
for n in big 1 2 3 4; do
  status=0
  wait "${pids[0]}" || status=$?
  pids=("${pids[@]:1}")
  grep -q "<qresource prefix=\"/$n\">" "$par/app.qrc" && [[ $status == 0 ]] || {
    echo "FAIL parallel runs: run $n: status $status, $(cat "$work/parallel-$n")" >&2
    failures=$((failures + 1))
  }
done

if ((failures)); then
  echo "$failures Windows checks failed" >&2
  exit 1
fi
echo "all Windows checks passed"
