#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up on a fresh Debian 12 machine, builds, and runs every test.
#   scripts/run-tests.sh            the normal build, in build/
#   scripts/run-tests.sh --sanitize the same suite with AddressSanitizer and UBSan, in build-asan/
# Tests that check refused writes need an ordinary user (root may write anywhere), so when
# started as root the build and the tests run as the unprivileged user quillory-test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

flavour=normal
[ "${1:-}" = "--sanitize" ] && flavour=sanitize

if [ "$(id -u)" -eq 0 ] && [ -z "${QUILLORY_AS_TESTER:-}" ]; then
    id quillory-test >/dev/null 2>&1 || useradd --create-home --shell /bin/bash quillory-test
    src=$top
    if ! runuser -u quillory-test -- test -r "$top/CMakeLists.txt"; then
        src=/var/tmp/quillory-test-src
        rm -rf "$src" && mkdir -p "$src"
        (cd "$top" && tar --exclude='./build*' -cf - .) | tar -xf - -C "$src"
        chown -R quillory-test: "$src"
    fi
    exec runuser -u quillory-test -- env QUILLORY_AS_TESTER=1 HOME=/home/quillory-test \
        "$src/scripts/run-tests.sh" "$@"
fi

if [ -w "$top" ]; then
    base=$top
else
    # One folder per checkout, so clones at different paths never share a build.
    base=$HOME/quillory-builds/$(printf '%s' "$top" | sha1sum | cut -c1-12)
    mkdir -p "$base"
fi
if [ "$flavour" = sanitize ]; then
    build=$base/build-asan
    "$top/scripts/build.sh" "$build" -DQUILLORY_SANITIZE=ON -DQUILLORY_BENCH=OFF \
        -DQUILLORY_REGISTER_GAUGE=OFF -DCMAKE_BUILD_TYPE=Debug
    # Qt is built without frame pointers, so a leak inside it is only named when the allocation's
    # stack is unwound from its tables; eight frames keep that within half again the suite's time.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:fast_unwind_on_malloc=0:malloc_context_size=8
    export LSAN_OPTIONS=suppressions=$top/.ci/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    build=$base/build
    "$top/scripts/build.sh" "$build" -DQUILLORY_BENCH=OFF
fi
cd "$build"
ctest --output-on-failure -j2 --timeout 900
