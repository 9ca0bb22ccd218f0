#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up on a fresh Debian 12 machine, builds, and starts Quillory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# Someone trying Quillory hears the good General MIDI SoundFont, as the package recommends;
# the tests keep the small TimGM6mb of .ci/packages.txt.
"$top/scripts/setup.sh" fluid-soundfont-gm
"$top/scripts/build.sh" "$top/build" -DQUILLORY_TESTS=OFF -DQUILLORY_BENCH=OFF
exec "$top/build/bin/quillory" "$@"
