# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""The windows as a screen reader meets them, over the real accessibility bus (AT-SPI).

Run in a private session bus (dbus-run-session) with its own X server: opens a song through the
desktop entry (gio launch, as "Open with" does), finds the main window as a frame and every button
by role and name, reads the song in the read-only source box, chooses a target in the Save dialog,
presses Convert, hears it become Stop and the bar's value rise, walks the Options dialog, the
WAV-to-MP3 tool and the About box, and leaves through Exit and Yes.
usage: screen_reader.py PROGRAM_FOLDER DESKTOP_ENTRY SOUNDFONT REGCTL
"""
import ctypes, os, shutil, struct, subprocess, sys, tempfile, time, wave

from gi.repository import Gio, GLib

# A runtime folder of this run's own, before anything starts the accessibility bus: without one,
# its launcher puts the bus's socket in ~/.cache/at-spi, and two runs at once as one user (two
# checkouts' tests) share one bus, where the program then shows up on the other run's desktop.
RUNTIME = os.environ["XDG_RUNTIME_DIR"] = tempfile.mkdtemp(prefix="runtime-")
Gio.bus_get_sync(Gio.BusType.SESSION).call_sync(
    "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
    "UpdateActivationEnvironment", GLib.Variant("(a{ss})", ({"XDG_RUNTIME_DIR": RUNTIME},)),
    None, Gio.DBusCallFlags.NONE, -1, None)

import pyatspi  # noqa: E402 (it starts the accessibility bus)

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


def every(root, role):
    found = [root] if root.getRole() == role else []
    return found + [node for child in root if child for node in every(child, role)]


def actions(node):
    try:
        offered = node.queryAction()
    except NotImplementedError:
        return []
    return [offered.getName(i) for i in range(offered.nActions)]


def read_only_field(root, name):
    """A text field named name that a reader may read but neither type into nor replace."""
    field = wait_for("field " + name, lambda: find(root, R.ROLE_TEXT, name))
    try:
        field.queryEditableText()
        fail("the field %s can be edited over AT-SPI" % name)
    except NotImplementedError:
        pass
    if not field.getState().contains(R.STATE_READ_ONLY):
        fail("the field %s is not read-only" % name)
    return field


def check_bar(root):
    """A progress bar from 0 to 100 that offers no action: a reader may read it, not set it."""
    bar = wait_for("progress bar", lambda: find(root, R.ROLE_PROGRESS_BAR))
    value = bar.queryValue()
    if (value.minimumValue, value.maximumValue) != (0, 100):
        fail("the bar runs from %s to %s" % (value.minimumValue, value.maximumValue))
    if actions(bar):
        fail("the bar offers %s" % actions(bar))
    return value


def close_window(title):
    """What a window manager's close box does: asks the top-level window with that title to close
    (WM_DELETE_WINDOW). A key typed instead would leave Qt's accessibility bridge holding a copy
    of it, which the sanitizer build reports as a leak."""
    c = ctypes
    x11 = c.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = c.c_void_p
    x11.XDefaultRootWindow.argtypes = [c.c_void_p]
    x11.XDefaultRootWindow.restype = c.c_ulong
    x11.XInternAtom.argtypes = [c.c_void_p, c.c_char_p, c.c_int]
    x11.XInternAtom.restype = c.c_ulong
    x11.XQueryTree.argtypes = [c.c_void_p, c.c_ulong] + [c.c_void_p] * 4
    x11.XGetWindowProperty.argtypes = [c.c_void_p, c.c_ulong, c.c_ulong, c.c_long, c.c_long,
                                       c.c_int, c.c_ulong] + [c.c_void_p] * 5
    x11.XSendEvent.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_long, c.c_void_p]

    class ClientMessage(c.Structure):
        _fields_ = [("type", c.c_int), ("serial", c.c_ulong), ("send_event", c.c_int),
                    ("display", c.c_void_p), ("window", c.c_ulong), ("message_type", c.c_ulong),
                    ("format", c.c_int), ("data", c.c_long * 5)]

    class Event(c.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", c.c_long * 24)]

    display = x11.XOpenDisplay(os.environ["DISPLAY"].encode())
    atom = lambda name: x11.XInternAtom(display, name, 0)
    root, parent, children, count = c.c_ulong(), c.c_ulong(), c.POINTER(c.c_ulong)(), c.c_uint()
    x11.XQueryTree(display, x11.XDefaultRootWindow(display), c.byref(root), c.byref(parent),
                   c.byref(children), c.byref(count))
    for window in children[:count.value]:
        kind, size, items, left = c.c_ulong(), c.c_int(), c.c_ulong(), c.c_ulong()
        value = c.POINTER(c.c_char)()
        x11.XGetWindowProperty(display, window, atom(b"_NET_WM_NAME"), 0, 256, 0,
                               atom(b"UTF8_STRING"), c.byref(kind), c.byref(size),
                               c.byref(items), c.byref(left), c.byref(value))
        if value and c.string_at(value, items.value) == title.encode():
            event = Event()
            event.xclient = ClientMessage(type=33, window=window, format=32,
                                          message_type=atom(b"WM_PROTOCOLS"))
            event.xclient.data[0] = atom(b"WM_DELETE_WINDOW")
            x11.XSendEvent(display, window, 0, 0, c.byref(event))
    x11.XCloseDisplay(display)


def leave(app, name, closing):
    closing()
    wait_for(name + " to close", lambda: not top(app, name=name), 30)


def walk_options(app, window):
    press(find(window, R.ROLE_PUSH_BUTTON, "Configure ..."))
    dialog = wait_for("Options", lambda: top(app, name="Options"))
    labels = ["Bitrate", "Channels Mode", "Bitrate Min", "Bitrate Max", "Frequency", "Channels",
              "Bits Per Sample"]
    for name in labels:
        wait_for("list " + name, lambda: find(dialog, R.ROLE_COMBO_BOX, name))
    named = sorted(node.name for node in every(dialog, R.ROLE_COMBO_BOX))
    if named != sorted(labels):
        fail("the Options lists are named %s" % named)
    # Its value is the item selected in the list that drops down.
    items = find(dialog, R.ROLE_COMBO_BOX, "Bitrate")[0]
    selected = [item.name for item in items if item.getState().contains(R.STATE_SELECTED)]
    if selected != ["128 kb/s"]:
        fail("the Bitrate list's selected items are %s" % selected)
    soundfont = read_only_field(dialog, "SoundFont")
    if soundfont.queryText().getText(0, -1) != "(automatic)" or soundfont.childCount:
        fail("the SoundFont field shows %r with %d children" %
             (soundfont.queryText().getText(0, -1), soundfont.childCount))
    wait_for("Even out the volume", lambda: find(dialog, R.ROLE_CHECK_BOX, "Even out the volume"))
    leave(app, "Options", lambda: press(find(dialog, R.ROLE_PUSH_BUTTON, "Cancel")))


def walk_wav_tool(app, window):
    press(find(window, R.ROLE_PUSH_BUTTON, "WAV->MP3..."))
    tool = wait_for("WAV-to-MP3 tool", lambda: top(app, name="Convert WAV to MP3"))
    for name in ("Open ...", "Save ...", "Convert"):
        wait_for("button " + name, lambda: find(tool, R.ROLE_PUSH_BUTTON, name))
    read_only_field(tool, "WAV File:")
    read_only_field(tool, "MP3 File:")
    check_bar(tool)
    # The tool has no button that closes it, only its close box.
    leave(app, "Convert WAV to MP3", lambda: close_window("Convert WAV to MP3"))


def walk_about(app, window):
    press(find(window, R.ROLE_PUSH_BUTTON, "About ..."))
    about = wait_for("About box", lambda: top(app, name="About Quillory"))
    link = wait_for("link", lambda: find(about, R.ROLE_LINK, "https://quillory.org/"))
    if "Press" not in actions(link):
        fail("the link offers %s" % actions(link))
    wait_for("picture", lambda: find(about, R.ROLE_IMAGE, "Quillory icon"))
    leave(app, "About Quillory", lambda: press(find(about, R.ROLE_PUSH_BUTTON, "OK")))


def main():
    folder, entry, soundfont, regctl = sys.argv[1:5]
    work = tempfile.mkdtemp()
    os.environ.update({"XDG_%s_HOME" % d: os.path.join(work, d)
                       for d in ("CONFIG", "CACHE", "DATA", "STATE")})
    env = dict(os.environ)
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
    os.environ["DISPLAY"] = ":" + os.read(read, 16).decode().strip()
    env.update(DISPLAY=os.environ["DISPLAY"], QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", PATH=program + os.pathsep + env["PATH"])
    env.pop("QT_QPA_PLATFORMTHEME", None)
    for tool in ("ASAN", "UBSAN"):  # a sanitizer build reports into files, read at the end
        env[tool + "_OPTIONS"] = env.get(tool + "_OPTIONS", "") + ":log_path=" + work + "/san"
    try:
        told = listen_to_bars()
        subprocess.run(["gio", "launch", entry, song], env=env, check=True)
        converse(song, target, told)
    except SystemExit:
        print("screen_reader: Quillory %s" % ("still runs" if runs(program) else "is gone"))
        raise
    finally:
        xvfb.terminate()
        reports = [open(os.path.join(work, f)).read() for f in os.listdir(work) if "san" in f]
        shutil.rmtree(work)
        shutil.rmtree(RUNTIME, ignore_errors=True)
        sys.stderr.write("\n".join(reports))  # also when the walk failed first
    if reports:
        fail("the sanitizer reported:\n" + "\n".join(reports))


def runs(program):
    """Whether a process runs the program copied into the folder program."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/exe" % pid).startswith(program + os.sep):
                return True
        except OSError:
            pass
    return False


def listen_to_bars():
    """The values progress bars tell, as they tell them. Listened for before the program starts,
    which learns at its start which events anyone listens for."""
    told = []
    R.Registry.registerEventListener(
        lambda e: e.source.getRole() == R.ROLE_PROGRESS_BAR and
        told.append(e.source.queryValue().currentValue), "object:property-change:accessible-value")
    return told


def converse(song, target, told):
    app = wait_for("Quillory on the bus", lambda: top(R.Registry.getDesktop(0), name="Quillory"), 120)
    window = wait_for("its main window", lambda: top(app, name="Quillory 2.0"))
    if window.getRole() != R.ROLE_FRAME:
        fail("the main window is a %s, not a frame" % window.getRoleName())
    for name in ("Configure ...", "Open ...", "Save ...", "Convert", "WAV->MP3...", "Help",
                 "About ...", "Control ...", "Exit"):
        wait_for("button " + name, lambda: find(window, R.ROLE_PUSH_BUTTON, name))
    source = read_only_field(window, "Open MIDI File:")
    if source.queryText().getText(0, -1) != song:
        fail("the source box does not hold the song")

    press(find(window, R.ROLE_PUSH_BUTTON, "Save ..."))
    dialog = wait_for("Save dialog", lambda: top(app, role=R.ROLE_DIALOG))
    wait_for("file name box", lambda: find(dialog, R.ROLE_TEXT, "File name:")) \
        .queryEditableText().setTextContents(target)
    press(wait_for("its Save", lambda: find(dialog, R.ROLE_PUSH_BUTTON, "Save")))
    saved = find(window, R.ROLE_TEXT, "Save to File:").queryText()
    wait_for("the target", lambda: saved.getText(0, -1) == target)

    bar = check_bar(window)
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

    walk_options(app, window)
    walk_wav_tool(app, window)
    walk_about(app, window)

    pid = app.get_process_id()
    with open("/proc/%d/maps" % pid) as maps:
        sanitized = "libasan" in maps.read()
    press(find(window, R.ROLE_PUSH_BUTTON, "Exit"))
    question = wait_for("exit question", lambda: top(app, role=R.ROLE_ALERT) or
                        top(app, role=R.ROLE_DIALOG))
    press(wait_for("Yes", lambda: find(question, R.ROLE_PUSH_BUTTON, "Yes")))
    asked = time.monotonic()
    wait_for("Quillory to end", lambda: ended(pid))
    took = time.monotonic() - asked
    print("screen_reader: Quillory ended %.2f s after Yes" % took)
    # It ends within half a second even with both cores busy (2.6 s once, at a load of 18 on two
    # cores): a program that waited for something of its own at the end would outlast this. A
    # sanitizer build first looks through all its memory for leaks, which takes a second or more.
    if took > (10 if sanitized else 2.5):
        fail("Quillory took %.1f s to end after its window closed" % took)
    work = os.path.join(os.environ["XDG_CACHE_HOME"], "quillory", "work")
    left = [name for name in os.listdir(work) if str(pid) in name] if os.path.isdir(work) else []
    if left:
        fail("Quillory left %s in its work folder" % left)


def ended(pid):
    """Whether the process has ended. Launched through gio, it is no child of ours: its parent is
    the session's first process, which reaps it when it gets round to it (here up to seconds
    later), and until then it stays in /proc as a zombie that runs nothing."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


main()
