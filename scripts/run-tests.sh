#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up on a fresh Debian 12 machine, builds, and runs every test.
#   scripts/run-tests.sh            the normal build, in build/
#   scripts/run-tests.sh --sanitize the same suite with AddressSanitizer and UBSan, in build-asan/
#   scripts/run-tests.sh --tsan     the tests of the threads that synthesise, level, write stems
#                                   and convert collections, with ThreadSanitizer, in build-tsan/
# Tests that check refused writes need an ordinary user (root may write anywhere), so when
# started as root the build and the tests run as the unprivileged user quillory-test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"

flavour=normal
runner=()    # what the tests run under
selection=() # which tests run: all but where a flavour chooses
case "${1:-}" in
--sanitize) flavour=sanitize ;;
--tsan) flavour=tsan ;;
esac

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
elif [ "$flavour" = tsan ]; then
    build=$base/build-tsan
    # Only what the chosen tests run; optimised, since ThreadSanitizer slows a run five to fifteen
    # times, with the debug information that names every frame of ours.
    QUILLORY_TARGETS="renderer_tests renderer_sound_tests audio_tests conversion_tests
        convert_unit_tests convert_cli_tests interrupt_race" "$top/scripts/build.sh" "$build" -DQUILLORY_TSAN=ON \
        -DQUILLORY_BENCH=OFF -DQUILLORY_REGISTER_GAUGE=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
    # Qt, GLib, FluidSynth and its OpenMP are not built with the sanitizer: it cannot see their
    # locks, so what their own threads hand each other would look unordered. It keeps their
    # locking (the interceptors still synchronise) but checks only the memory our code touches.
    # The options reach every quillory-convert the tests start, through the environment.
    export TSAN_OPTIONS=ignore_noninstrumented_modules=1:second_deadlock_stack=1:suppressions=$top/.ci/tsan.supp
    # The split song, the shared reverb and chorus (its plugin runs on the synthesisers' threads),
    # the levelled pass, the stems, the batch's workers and a collection. Left out: the window's
    # renderer (SynthRenderer), which hands its results over through Qt's event queue, whose lock
    # the sanitizer cannot see; and the test of real signals sent at chosen moments of a
    # conversion, whose timing the sanitizer upsets (it also holds a signal back until the thread
    # it reached passes through its runtime): convert_interrupt_race checks the flag instead.
    tests='^(ParallelSongRenderer|ThreadBudget|NoteSharer|SongLoad|RenderJob|LevelledRender|'
    tests+='ConvertStreaming|ConvertBatch|ConvertStems|ConvertCli)\.|^convert_(collection|interrupt_race)$'
    selection=(-R "$tests" -E '^ConvertCli\.InterruptsStopAtOnceAndLeaveNothing$')
    # Where the kernel's address layout defeats the sanitizer, the tests run without randomisation.
    setarch "$(uname -m)" -R true 2>/dev/null && runner=(setarch "$(uname -m)" -R)
else
    build=$base/build
    "$top/scripts/build.sh" "$build" -DQUILLORY_BENCH=OFF
fi
cd "$build"
"${runner[@]}" ctest --output-on-failure -j2 --timeout 900 "${selection[@]}"
