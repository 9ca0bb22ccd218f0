# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""The comparisons of bench/python/run.sh, in one process: quillory-convert, render_many and the
fluidsynth command on the same songs, then memory over many songs.
    compare.py CONVERT SOUNDFONT WORK JOBS MEMORY"""
import os
import resource
import subprocess
import sys
import time

import quillory

convert, soundfont, work, jobs, memory = sys.argv[1:4] + [int(a) for a in sys.argv[4:6]]
songs = [line.strip() for line in open(os.path.join(work, "list.txt"))]
GAIN = "0.15"  # the renderer's own synthesiser gain


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def own_cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def rss_mib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) // 1024
    return 0


def timed(what, run, cpu):
    before_wall, before_cpu = time.monotonic(), cpu()
    run()
    return what, time.monotonic() - before_wall, cpu() - before_cpu


def command_line():
    subprocess.run([convert, "--quiet", "--jobs", str(jobs), "--settings",
                    os.path.join(work, "options.ini"), "--soundfont", soundfont, "--rate", "44100",
                    "--bits", "32f", "--format", "wav", "--force", "--output-dir",
                    os.path.join(work, "cli"), "--files-from", os.path.join(work, "list.txt")],
                   check=True)


renderer = quillory.Renderer(soundfont)  # loaded before the clock starts, as a user's would be
frames = [0]


def module():
    for song in renderer.render_many(songs, jobs=jobs, labels=False):
        frames[0] += song.audio.shape[0]


def fluidsynth():
    os.makedirs(os.path.join(work, "fs"), exist_ok=True)
    for song in songs:
        out = os.path.join(work, "fs", os.path.basename(song) + ".wav")
        subprocess.run(["fluidsynth", "-ni", "-q", "-g", GAIN, "-r", "44100", "-O", "float",
                        "-T", "wav", "-F", out, soundfont, song], check=True)


load = os.getloadavg()
rows = [timed(f"quillory-convert --jobs {jobs} --bits 32f", command_line, children_cpu),
        timed(f"render_many(jobs={jobs}) to arrays", module, own_cpu),
        timed("fluidsynth -F from Python, one per song", fluidsynth, children_cpu)]
print(f"{len(songs)} songs of 30 s, {os.path.basename(soundfont)}, 44100 Hz stereo, levelled;"
      f" load average before {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}, after "
      f"{os.getloadavg()[0]:.2f} ({os.cpu_count()} cores)")
print(f"{'':46} {'wall':>8} {'cpu':>8}")
for what, wall, cpu in rows:
    print(f"{what:46} {wall:7.1f}s {cpu:7.1f}s")
cli, ours, fs = rows
print(f"render_many against quillory-convert: {ours[1] / cli[1]:.3f}x its time "
      f"(target at most 1.05x)")
print(f"render_many against the fluidsynth command: {ours[1] / fs[1]:.2f}x its time")
print(f"audio rendered to arrays: {frames[0] / 44100:.0f} s")

many = (songs * (memory // len(songs) + 1))[:memory]
print(f"memory over {memory} songs (RSS, MiB):", end="", flush=True)
for done, song in enumerate(renderer.render_many(many, jobs=jobs, labels=False), 1):
    del song
    if done % 50 == 0 or done == 1:
        print(f" {done}:{rss_mib()}", end="", flush=True)
print()
