#!/usr/bin/env bash
# Builds the Debian package with CPack and checks it with lintian. The maintainer address is a
# placeholder until the project has a real one, so lintian's two tags about it are left out.
#   debian_package_test.sh <resweaver build folder>
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb=$(echo "$work"/resweaver_*.deb)
contents=$(dpkg-deb --contents "$deb")
# qmake's feature goes into Qt 5's own feature folder, where CONFIG += resweaver finds it.
qmake_features=$(/usr/lib/qt5/bin/qmake -query QT_HOST_DATA)/mkspecs/features
for file in usr/bin/resweaver usr/share/man/man1/resweaver.1.gz \
  usr/lib/cmake/resweaver/resweaverConfig.cmake usr/lib/cmake/resweaver/resweaverBuildStep.cmake \
  "${qmake_features#/}/resweaver.prf" usr/share/doc/resweaver/copyright; do
  grep -q " ./$file\$" <<<"$contents" || { echo "missing: $file" >&2; exit 1; }
done
lintian --fail-on error,warning \
  --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog "$deb"
echo "$(basename "$deb") is lintian-clean"
