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

# build_tree DIR [cmake options...]: configures DIR once, then builds it.
build_tree() {
  local dir=$1
  shift
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESWEAVER_WERROR=ON "$@" >/dev/null
  fi
  cmake --build "$dir" --parallel "$(nproc)" >/dev/null
}
