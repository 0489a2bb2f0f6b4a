#!/usr/bin/env bash
# Builds the Debian package with CPack and checks it with lintian. The maintainer address is a
# placeholder until the project has a real one, so lintian's two tags about it are left out.
#   debian_package_test.sh <source folder> <resweaver build folder> <libc linked in: ON or OFF>
# A build that links libc in must refuse to become a .deb; the package then comes from a build of
# its own beside it, configured as a distribution would (libc shared).
set -euo pipefail
source_dir=$1
build=$2
libc_linked_in=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [[ $libc_linked_in == ON ]]; then
  if cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/refused" 2>&1; then
    echo "cpack packaged a tool with libc linked in" >&2
    exit 1
  fi
  grep -q -- "-DRESWEAVER_STATIC_LIBC=OFF" "$work/refused" || { cat "$work/refused" >&2; exit 1; }
  build=$build/debian-package
  if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
      -DRESWEAVER_STATIC_LIBC=OFF >/dev/null
  fi
  cmake --build "$build" --parallel "$(nproc)" >/dev/null
fi
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb=$(echo "$work"/resweaver_*.deb)
contents=$(dpkg-deb --contents "$deb")
# qmake's feature goes into Qt 5's and Qt 6's own feature folders, where load(resweaver) finds it.
qt5_features=$(/usr/lib/qt5/bin/qmake -query QT_HOST_DATA)/mkspecs/features
qt6_features=$(qmake6 -query QT_HOST_DATA)/mkspecs/features
for file in usr/bin/resweaver usr/share/man/man1/resweaver.1.gz \
  usr/lib/cmake/resweaver/resweaverConfig.cmake usr/lib/cmake/resweaver/resweaverBuildStep.cmake \
  "${qt5_features#/}/resweaver.prf" "${qt6_features#/}/resweaver.prf" \
  usr/share/doc/resweaver/copyright; do
  grep -q " ./$file\$" <<<"$contents" || { echo "missing: $file" >&2; exit 1; }
done
# lintian refuses a statically linked binary as an error; the package depends on libc instead.
dpkg-deb --field "$deb" Depends | grep -q libc6 || { echo "no dependency on libc" >&2; exit 1; }
lintian --fail-on error,warning \
  --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog "$deb"
echo "$(basename "$deb") is lintian-clean"
