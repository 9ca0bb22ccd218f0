#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of Quillory: a Release build for /usr in build-package/ (or the
# folder given), with Debian's hardening flags, then CPack. Prints the path of the .deb.
#   scripts/build-package.sh [BUILD_DIR]
# Install it with: sudo apt-get install ./build-package/quillory_<version>_<arch>.deb
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-package}
shift || true
"$top/scripts/setup.sh"

# Debian's own compiler and linker flags (stack protector, fortified functions, read-only
# relocations, immediate binding), as a package built by Debian's tools would have them.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cppflags=$(flags CPPFLAGS)
ldflags=$(flags LDFLAGS)
"$top/scripts/build.sh" "$build" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUILLORY_TESTS=OFF -DQUILLORY_BENCH=OFF -DQUILLORY_REGISTER_GAUGE=OFF \
    "-DCMAKE_C_FLAGS=$(flags CFLAGS) $cppflags" "-DCMAKE_CXX_FLAGS=$(flags CXXFLAGS) $cppflags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" "$@"
# The help file needs chmcmd; a package without it would have a Help button that finds nothing.
[ -f "$build/bin/quillory.chm" ] || { echo "build-package.sh: quillory.chm was not built" >&2; exit 1; }
rm -f "$build"/quillory_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/quillory_*.deb
