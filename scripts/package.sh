#!/usr/bin/env bash
# Builds Sorvane and makes build/sorvane_<version>_<arch>.deb with cpack,
# after checking the desktop entry and the AppStream metainfo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
need=()
for tool in dpkg-shlibdeps:dpkg-dev appstreamcli:appstream desktop-file-validate:desktop-file-utils file:file; do
  command -v "${tool%%:*}" >/dev/null || need+=("${tool##*:}")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
fi
desktop-file-validate res/sorvane.desktop
appstreamcli validate --no-net res/com.trellane.Sorvane.metainfo.xml
(cd build && cpack -G DEB)
ls build/sorvane_*.deb
