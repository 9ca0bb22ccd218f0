# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""The main window as a screen reader meets it, over the real accessibility bus (AT-SPI).

Run in a private session bus (dbus-run-session) with its own X server: opens a song through the
desktop entry (gio launch, as "Open with" does), finds every button by role and name, reads the
song in the read-only source box, chooses a target in the Save dialog, presses Convert, hears it
become Stop and the bar's value rise, and leaves through Exit and Yes.
usage: screen_reader.py PROGRAM_FOLDER DESKTOP_ENTRY SOUNDFONT REGCTL
"""
import os, shutil, struct, subprocess, sys, tempfile, time, wave

import pyatspi
from gi.repository import GLib

R = pyatspi


def fail(message):
    sys.exit("screen_reader: FAILED: " + message)


def wait_for(what, check, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        while GLib.MainContext.default().iteration(False):
            pass
        found = check()
        if found:
            return found
        time.sleep(0.02)
    fail("no " + what)


def find(root, role, name=None):
    if root.getRole() == role and name in (None, root.name):
        return root
    for child in root:
        found = child and find(child, role, name)
        if found:
            return found
    return None


def press(node):
    action = node.queryAction()
    action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))


def top(app, role=None, name=None):
    return next((w for w in app if w and (w.getRole() == role or w.name == name)), None)


def main():
    folder, entry, soundfont, regctl = sys.argv[1:5]
    work = tempfile.mkdtemp()
    env = dict(os.environ, **{"XDG_%s_HOME" % d: os.path.join(work, d)
                              for d in ("CONFIG", "CACHE", "DATA", "STATE")})
    # A program folder of its own: its own options.ini, the small SoundFont beside it.
    program = os.path.join(work, "program")
    os.makedirs(program)
    shutil.copy2(os.path.join(folder, "quillory"), program)
    os.symlink(soundfont, os.path.join(program, "small.sf2"))
    subprocess.run([regctl, os.path.join(folder, "libombrel.so")], env=env, check=True)
    song, target = os.path.join(work, "song.mid"), os.path.join(work, "song.wav")
    notes = b"".join(bytes([0, 0x90, 60 + i % 24, 90, 0x60, 0x80, 60 + i % 24, 64])
                     for i in range(480))  # four minutes, a note a beat
    with open(song, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" +
                struct.pack(">I", len(notes) + 4) + notes + b"\0\xff\x2f\0")
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp"],
                            pass_fds=(write,), stderr=subprocess.DEVNULL)
    env.update(DISPLAY=":" + os.read(read, 16).decode().strip(), QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", PATH=program + os.pathsep + env["PATH"])
    env.pop("QT_QPA_PLATFORMTHEME", None)
    for tool in ("ASAN", "UBSAN"):  # a sanitizer build reports into files, read at the end
        env[tool + "_OPTIONS"] = env.get(tool + "_OPTIONS", "") + ":log_path=" + work + "/san"
    try:
        subprocess.run(["gio", "launch", entry, song], env=env, check=True)
        converse(song, target)
    finally:
        xvfb.terminate()
        reports = [open(os.path.join(work, f)).read() for f in os.listdir(work) if "san" in f]
        shutil.rmtree(work)
    if reports:
        fail("the sanitizer reported:\n" + "\n".join(reports))


def converse(song, target):
    told = []
    R.Registry.registerEventListener(
        lambda e: e.source.getRole() == R.ROLE_PROGRESS_BAR and
        told.append(e.source.queryValue().currentValue), "object:property-change:accessible-value")
    app = wait_for("Quillory on the bus", lambda: top(R.Registry.getDesktop(0), name="Quillory"), 120)
    window = wait_for("its main window", lambda: top(app, name="Quillory 2.0"))
    for name in ("Configure ...", "Open ...", "Save ...", "Convert", "WAV->MP3...", "Help",
                 "About ...", "Control ...", "Exit"):
        wait_for("button " + name, lambda: find(window, R.ROLE_PUSH_BUTTON, name))
    source = wait_for("source box", lambda: find(window, R.ROLE_TEXT, "Open MIDI File:"))
    if source.queryText().getText(0, -1) != song or not source.getState().contains(R.STATE_READ_ONLY):
        fail("the source box is not the read-only box holding the song")

    press(find(window, R.ROLE_PUSH_BUTTON, "Save ..."))
    dialog = wait_for("Save dialog", lambda: top(app, role=R.ROLE_DIALOG))
    wait_for("file name box", lambda: find(dialog, R.ROLE_TEXT, "File name:")) \
        .queryEditableText().setTextContents(target)
    press(wait_for("its Save", lambda: find(dialog, R.ROLE_PUSH_BUTTON, "Save")))
    saved = find(window, R.ROLE_TEXT, "Save to File:").queryText()
    wait_for("the target", lambda: saved.getText(0, -1) == target)

    bar = find(window, R.ROLE_PROGRESS_BAR).queryValue()
    if (bar.minimumValue, bar.maximumValue) != (0, 100):
        fail("the bar runs from %s to %s" % (bar.minimumValue, bar.maximumValue))
    convert = find(window, R.ROLE_PUSH_BUTTON, "Convert")
    press(convert)
    wait_for("Convert to become Stop", lambda: convert.name == "Stop", 30)
    read = [0]
    wait_for("the end", lambda: read.append(bar.currentValue) or
             (convert.name == "Convert" and read[-1] == 100 and told[-1:] == [100]), 240)
    print("screen_reader: read %s, told %s" % (sorted(set(read)), told))
    if len(set(read)) < 4 or len(told) < 3 or told != sorted(told) or read != sorted(read):
        fail("the bar's value was not heard rising")
    with wave.open(target) as made:
        if made.getnframes() < 44100 * 200:
            fail("the WAV is not the song")

    pid = app.get_process_id()
    press(find(window, R.ROLE_PUSH_BUTTON, "Exit"))
    question = wait_for("exit question", lambda: top(app, role=R.ROLE_ALERT) or
                        top(app, role=R.ROLE_DIALOG))
    press(wait_for("Yes", lambda: find(question, R.ROLE_PUSH_BUTTON, "Yes")))
    wait_for("Quillory to end", lambda: not os.path.exists("/proc/%d" % pid))


main()
