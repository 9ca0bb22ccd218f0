"""The main window as a screen reader meets it, through the real accessibility bus (AT-SPI).

Run inside a private session bus (dbus-run-session). Starts its own X server, opens a song in
Quillory through the desktop entry (gio launch, as a file manager's "Open with" does), then, as
a reader would: finds every button by role and name, reads the song in the read-only source box,
chooses a target in the Save dialog, presses Convert, hears it become Stop and the bar's value
rise to 100, and leaves through Exit and the question's Yes.

usage: screen_reader.py PROGRAM_FOLDER DESKTOP_ENTRY SOUNDFONT REGCTL
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import wave

import pyatspi
from gi.repository import GLib

BUTTONS = ["Configure ...", "Open ...", "Save ...", "Convert", "WAV->MP3...", "Help",
           "About ...", "Control ...", "Exit"]


def fail(message):
    print("screen_reader: FAILED: " + message, flush=True)
    sys.exit(1)


def wait_for(what, check, seconds=60):
    """Polls check, letting AT-SPI events in, until it gives something; fails after seconds."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        while GLib.MainContext.default().iteration(False):
            pass
        found = check()
        if found:
            return found
        time.sleep(0.02)
    fail("gave up waiting for " + what)


def write_song(path, beats):
    """A piano melody of one note a beat at 120 beats a minute, as a format-0 MIDI file."""
    events = bytearray(b"\x00\xc0\x00")
    for i in range(beats):
        key = 60 + (i * 5) % 24
        events += bytes([0x00, 0x90, key, 90, 0x60, 0x80, key, 64])
    events += b"\x00\xff\x2f\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96))
        f.write(b"MTrk" + struct.pack(">I", len(events)) + events)


def start_x_server():
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                               "-nolisten", "tcp"], pass_fds=(write,),
                              stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            fail("Xvfb did not start")
        number += chunk
    os.close(read)
    return server, ":" + number.decode().strip()


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find(root, role, name=None):
    for node in walk(root):
        if node.getRole() == role and (name is None or node.name == name):
            return node
    return None


def press(node):
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Press" not in names:
        fail("%s %r has no press action, only %s" % (node.getRoleName(), node.name, names))
    action.doAction(names.index("Press"))


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name.lower() == "quillory":
            return app
    return None


def window(app, title):
    for i in range(app.childCount):
        frame = app.getChildAtIndex(i)
        if frame is not None and frame.name == title:
            return frame
    return None


def main():
    program_folder, desktop_entry, soundfont, regctl = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="screen-reader-")
    env = dict(os.environ)
    for name in ("CONFIG", "CACHE", "DATA", "STATE"):
        env["XDG_%s_HOME" % name] = os.path.join(work, name.lower())
    # Its own program folder, so that options.ini and the SoundFont beside it are its own.
    folder = os.path.join(work, "program")
    os.makedirs(folder)
    shutil.copy2(os.path.join(program_folder, "quillory"), folder)
    os.symlink(soundfont, os.path.join(folder, os.path.basename(soundfont)))
    subprocess.run([regctl, os.path.join(program_folder, "libombrel.so")], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    song = os.path.join(work, "song.mid")
    target = os.path.join(work, "song.wav")
    write_song(song, 480)

    server, display = start_x_server()
    env.update(DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               PATH=folder + os.pathsep + env.get("PATH", ""))
    env.pop("QT_QPA_PLATFORMTHEME", None)
    # A sanitizer build reports into files that are checked once the program has ended.
    for tool in ("ASAN", "UBSAN"):
        options = env.get(tool + "_OPTIONS", "")
        env[tool + "_OPTIONS"] = options + (":" if options else "") + "log_path=" + \
            os.path.join(work, tool.lower())
    try:
        subprocess.run(["gio", "launch", desktop_entry, song], env=env, check=True)
        run(song, target)
    finally:
        server.terminate()
        server.wait()
    reports = [f for f in os.listdir(work) if f.startswith(("asan", "ubsan"))]
    for report in reports:
        print(open(os.path.join(work, report)).read())
    if reports:
        fail("the sanitizer reported the errors above")
    shutil.rmtree(work)
    print("screen_reader: passed", flush=True)


def run(song, target):
    values = []
    pyatspi.Registry.registerEventListener(
        lambda event: values.append(event.source.queryValue().currentValue)
        if event.source.getRole() == pyatspi.ROLE_PROGRESS_BAR else None,
        "object:property-change:accessible-value")
    app = wait_for("Quillory on the accessibility bus", application, 120)
    main_window = wait_for("the main window", lambda: window(app, "Quillory 2.0"))
    for name in BUTTONS:
        wait_for("the button " + name, lambda: find(main_window, pyatspi.ROLE_PUSH_BUTTON, name))

    source = wait_for("the source box", lambda: find(main_window, pyatspi.ROLE_TEXT,
                                                     "Open MIDI File:"))
    text = source.queryText()
    if text.getText(0, -1) != song:
        fail("the source box holds %r, not the song opened with Quillory" % text.getText(0, -1))
    if not source.getState().contains(pyatspi.STATE_READ_ONLY):
        fail("the source box does not say that it is read-only")

    press(find(main_window, pyatspi.ROLE_PUSH_BUTTON, "Save ..."))
    dialog = wait_for("the Save dialog", lambda: next(
        (app.getChildAtIndex(i) for i in range(app.childCount)
         if app.getChildAtIndex(i) is not None
         and app.getChildAtIndex(i).getRole() == pyatspi.ROLE_DIALOG), None))
    name_box = wait_for("the file name box", lambda: find(dialog, pyatspi.ROLE_TEXT,
                                                          "File name:"))
    name_box.queryEditableText().setTextContents(target)
    press(wait_for("the dialog's Save", lambda: find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Save")))
    target_box = find(main_window, pyatspi.ROLE_TEXT, "Save to File:")
    wait_for("the target in its box", lambda: target_box.queryText().getText(0, -1) == target)

    bar = find(main_window, pyatspi.ROLE_PROGRESS_BAR)
    if bar is None:
        fail("no progress bar")
    gauge = bar.queryValue()
    if (gauge.minimumValue, gauge.maximumValue) != (0, 100):
        fail("the bar runs from %s to %s" % (gauge.minimumValue, gauge.maximumValue))
    convert = find(main_window, pyatspi.ROLE_PUSH_BUTTON, "Convert")
    press(convert)
    wait_for("Convert to become Stop", lambda: convert.name == "Stop", 30)
    read = []

    def finished():
        value = gauge.currentValue
        if not read or read[-1] != value:
            read.append(value)
        return convert.name == "Convert" and value == 100

    wait_for("the conversion to end", finished, 240)
    # The last step is told when the bar's second is up.
    wait_for("a reader to be told 100", lambda: values and values[-1] == 100, 10)
    print("screen_reader: the bar read %s; a reader was told %s" % (read, values), flush=True)
    if read != sorted(read) or len([v for v in read if 0 < v < 100]) < 2:
        fail("the bar's value did not rise step by step: %s" % read)
    if values != sorted(values) or len(values) < 3:
        fail("a reader was not told the value rising: %s" % values)
    with wave.open(target) as made:
        if made.getnframes() < 44100 * 200:
            fail("the WAV holds %d frames, not the song" % made.getnframes())

    pid = app.get_process_id()
    press(find(main_window, pyatspi.ROLE_PUSH_BUTTON, "Exit"))
    question = wait_for("the exit question", lambda: next(
        (app.getChildAtIndex(i) for i in range(app.childCount)
         if app.getChildAtIndex(i) is not None
         and app.getChildAtIndex(i).getRole() in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG)), None))
    press(wait_for("Yes", lambda: find(question, pyatspi.ROLE_PUSH_BUTTON, "Yes")))
    wait_for("Quillory to end", lambda: not os.path.exists("/proc/%d" % pid), 60)


if __name__ == "__main__":
    main()
