# Shared by the Qt project tests, which source it: a copy of the example help viewer built against
# resweaver installed into a temporary prefix, and the checks made after its builds.

# start_project <resweaver build folder> <tests/qt/helpviewer>: installs resweaver into
# $work/prefix, copies the example to $app (a path with a space, as users' paths have) and enters it.
start_project() {
  work=$(mktemp -d)
  trap 'cleanup' EXIT
  export LC_ALL=C.UTF-8
  cmake --install "$1" --prefix "$work/prefix" >/dev/null
  app="$work/help viewer"
  cp -r "$2" "$app"
  cd "$app"
}

cleanup() {
  if [[ -n ${read_only:-} ]]; then
    umount "$read_only" 2>/dev/null || true
  fi
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}

# make_read_only: $source becomes a read-only view of $app, where the build reads the project:
# a read-only bind mount as root, else the copy itself with every write permission taken away.
# Changes to the project go through edit, which writes to $app.
make_read_only() {
  source=$app
  if [[ $(id -u) == 0 ]]; then
    read_only="$work/read-only view"
    mkdir "$read_only"
    if mount --bind "$app" "$read_only" 2>/dev/null &&
      mount -o remount,ro,bind "$read_only" 2>/dev/null; then
      source=$read_only
      return
    fi
    umount "$read_only" 2>/dev/null || true
    read_only=
    echo "no bind mount here: the copy is made read-only instead, which root ignores" >&2
  fi
  chmod -R a-w "$app"
}

# edit <command...>: runs the command in $app, which it may change.
edit() {
  [[ -n ${read_only:-} ]] || chmod -R u+w "$app"
  (cd "$app" && "$@")
  [[ -n ${read_only:-} ]] || chmod -R a-w "$app"
}

# source_snapshot: every path below $app with its time, size and checksum.
source_snapshot() {
  (cd "$app" && find . -printf '%p %T@ %s\n' | sort && find . -type f -exec md5sum {} + | sort)
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

# check_embedded <when> <application> <group>...: the pages that the application lists (checksum
# and resource path) must be exactly the files of the groups' folders, each group
# "prefix|base|folder": the files below base/folder, at prefix/<path below base>. Drafts (a folder
# drafts) and backups (names ending in ~) are never embedded.
check_embedded() {
  local when=$1 application=$2 expected actual group prefix base folder
  shift 2
  expected=$(for group in "$@"; do
    IFS='|' read -r prefix base folder <<<"$group"
    prefix=${prefix%/}
    (cd "$base" && find "$folder" -type f ! -path '*/drafts/*' ! -name '*~' -exec md5sum {} + |
      sed -e "s|  \./|  |" -e "s|  |  :$prefix/|")
  done | sort)
  actual=$("$application" | sort)
  if [[ $expected != "$actual" ]]; then
    echo "after $when, the application's pages differ from the folders (<) :" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
  fi
}

# check_nothing_done <pattern> <build folder> <file>... -- <build command...>: a build without
# changes compiles, links and rewrites nothing, leaves the files' times alone, and prints nothing
# that matches the pattern (a resource step, or a build system set up again).
check_nothing_done() {
  local pattern=$1 build=$2 files=() before after
  shift 2
  while [[ $1 != -- ]]; do
    files+=("$1")
    shift
  done
  shift
  before=$(built_times "$build" "${files[@]}")
  "$@" >"$work/log" 2>&1
  after=$(built_times "$build" "${files[@]}")
  if [[ $before != "$after" ]] || grep -E "$pattern" "$work/log"; then
    echo "a build without changes did more than it should:" >&2
    diff <(echo "$before") <(echo "$after") >&2 || true
    cat "$work/log" >&2
    exit 1
  fi
}

built_times() {
  local build=$1
  shift
  {
    [[ $# == 0 ]] || stat -c '%n %.9Y' "$@"
    find "$build" -type f \( -name '*.cpp' -o -name '*.o' -o -name '*.qrc' -o -name '*.stamp' \
      -o -name helpviewer \) -printf '%p %T@\n'
  } | sort
}
