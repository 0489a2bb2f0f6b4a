# Shared by the Qt project tests, which source it: a copy of the example help viewer built against
# resweaver installed into a temporary prefix, and the checks made after its builds.

# start_project <resweaver build folder> <tests/qt/helpviewer>: installs resweaver into
# $work/prefix, copies the example to $app (a path with a space, as users' paths have) and enters it.
start_project() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  export LC_ALL=C.UTF-8
  cmake --install "$1" --prefix "$work/prefix" >/dev/null
  app="$work/help viewer"
  cp -r "$2" "$app"
  cd "$app"
}

# logged <what> <command...>: runs the command with its output in $work/log, shown if it fails.
logged() {
  local what=$1
  shift
  if ! "$@" >"$work/log" 2>&1; then
    echo "$what failed:" >&2
    cat "$work/log" >&2
    exit 1
  fi
}

# check_embedded <when> <group>...: the pages that build/helpviewer lists (checksum and resource
# path) must be exactly the files of the groups' folders, each group "prefix|base|folder" (the
# .qrc's folder, and the folder listed relative to it).
check_embedded() {
  local when=$1 expected actual group prefix base folder
  shift
  expected=$(for group in "$@"; do
    IFS='|' read -r prefix base folder <<<"$group"
    (cd "$base" && find "$folder" -type f -exec md5sum {} + | sed "s|  |  :$prefix/|")
  done | sort)
  actual=$(build/helpviewer | sort)
  if [[ $expected != "$actual" ]]; then
    echo "after $when, the application's pages differ from the folders (<) :" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
  fi
}

# check_nothing_done <pattern> <.qrc>... -- <build command...>: a build without changes compiles,
# links and rewrites nothing, leaves the .qrc files' times alone, and prints nothing that matches
# the pattern (a build system set up again).
check_nothing_done() {
  local pattern=$1 qrcs=() before after
  shift
  while [[ $1 != -- ]]; do
    qrcs+=("$1")
    shift
  done
  shift
  before=$(built_times "${qrcs[@]}")
  "$@" >"$work/log" 2>&1
  after=$(built_times "${qrcs[@]}")
  if [[ $before != "$after" ]] || grep -E "$pattern" "$work/log"; then
    echo "a build without changes did more than it should:" >&2
    diff <(echo "$before") <(echo "$after") >&2 || true
    cat "$work/log" >&2
    exit 1
  fi
}

built_times() {
  {
    stat -c '%n %.9Y' "$@"
    find build -type f \( -name '*.cpp' -o -name '*.o' -o -name helpviewer \) -printf '%p %T@\n'
  } | sort
}
