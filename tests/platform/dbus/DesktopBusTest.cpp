// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The desktop session's services over D-Bus, against python3-dbusmock stand-ins on a private
// bus: the notification and its "Open folder"; the sleep hold through the first service the
// session offers and its release, from the main window's runs and from a batch; nothing where no
// service runs.
#include "platform/dbus/DbusInhibitor.h"
#include "platform/dbus/DbusNotifier.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/platform/dbus/MockBus.h"

#include <QUrl>
#include <tuple>

namespace {

using platform::dbus::DbusInhibitor;
using platform::dbus::DbusNotifier;
using platform::dbus::HoldVia;
const std::vector<HoldVia> AllHolds{HoldVia::Portal, HoldVia::Login1, HoldVia::ScreenSaver};
const QString Saver = "org.freedesktop.ScreenSaver", SaverPath = "/org/freedesktop/ScreenSaver";

MockService notifications(PrivateBus& bus) {
    return {bus,
            "org.freedesktop.Notifications",
            "/org/freedesktop/Notifications",
            {"-t", "notification_daemon", "-p", R"({"capabilities": "body actions"})"}};
}

MockService screenSaver(PrivateBus& bus, int cookie) {
    return {bus,
            Saver,
            SaverPath,
            {Saver, SaverPath, Saver},
            {{"Inhibit", "ss", "u", QString("ret = %1").arg(cookie)}, {"UnInhibit", "u", "", ""}}};
}

// The holds logind keeps, as gdbus writes them.
QString logindHolds(PrivateBus& bus) {
    QProcess gdbus;
    gdbus.start("gdbus",
                {"call", "--address", bus.address, "-d", "org.freedesktop.login1", "-o",
                 "/org/freedesktop/login1", "-m", "org.freedesktop.login1.Manager.ListInhibitors"});
    gdbus.waitForFinished();
    return QString::fromUtf8(gdbus.readAllStandardOutput()).trimmed();
}

class DesktopBus : public ::testing::Test {
protected:
    PrivateBus bus;
};

TEST_F(DesktopBus, TheNoticeNamesTheFileAndItsActionShowsIt) {
    const QString done = bus.dir.filePath("a & b.mp3");
    WriteBytes(done, "ID3");
    MockService daemon = notifications(bus);
    QStringList opened;
    DbusNotifier notifier(bus.bus, [&](const QString& folder) {
        opened << folder;
        return true;
    });
    ASSERT_TRUE(notifier.notify({"Quillory", "a & b.mp3 is finished.", done}));
    EXPECT_TRUE(daemon.saw(R"(Notify "Quillory" 0 "quillory" "Quillory" "a & b.mp3 is finished." )"
                           R"(["open-folder", "Open folder"] {"desktop-entry": "quillory"} -1)"));
    const auto chooseOpenFolder = [&](uint id) {
        daemon.mock("EmitSignal", {"org.freedesktop.Notifications", "ActionInvoked", "us",
                                   QVariantList{id, "open-folder"}});
    };
    chooseOpenFolder(1);
    EXPECT_TRUE(WaitUntil([&] { return opened == QStringList{bus.dir.path()}; }))
        << "without a file manager on the bus, xdg-open opens the folder";

    const QString manager = "org.freedesktop.FileManager1", path = "/org/freedesktop/FileManager1";
    MockService files(bus, manager, path, {manager, path, manager}, {{"ShowItems", "ass", "", ""}});
    notifier.notify({"Quillory", "a & b.mp3 is finished.", done});
    ASSERT_TRUE(daemon.saw("Notify \"Quillory\" 0 \"quillory\" \"Quillory\" \"a & b.mp3 is "
                           "finished.\" [\"open-folder\", \"Open folder\"] {\"desktop-entry\": "
                           "\"quillory\"} -1\n") &&
                WaitUntil([&] { return daemon.log().count("Notify") == 2; }));
    chooseOpenFolder(2);
    EXPECT_TRUE(files.saw("ShowItems [\"" + QUrl::fromLocalFile(done).toString() + "\"] \"\""));
}

TEST_F(DesktopBus, WithoutServicesNothingIsSentOrHeld) {
    DbusNotifier notifier(bus.bus, [](const QString&) { return true; });
    EXPECT_FALSE(notifier.notify({"Quillory", "a.mp3 is finished.", "/tmp/a.mp3"}));
    EXPECT_EQ(DbusInhibitor("Quillory", AllHolds, bus.bus, bus.bus).inhibit("x"), nullptr);
    const QDBusConnection none("none");
    EXPECT_EQ(DbusInhibitor("Quillory", AllHolds, none, none).inhibit("x"), nullptr) << "no bus";
}

// The portal comes before the screen saver; either lets go when the hold goes.
TEST_F(DesktopBus, TheFirstServiceOfTheSessionHoldsUntilReleased) {
    MockService saver = screenSaver(bus, 42);
    DbusInhibitor inhibitor("Quillory", AllHolds, bus.bus, bus.bus);
    inhibitor.inhibit("Converting a.mid").reset();
    EXPECT_TRUE(saver.saw("Inhibit \"Quillory\" \"Converting a.mid\"\n"));
    EXPECT_TRUE(saver.saw("UnInhibit 42\n"));

    const QString portal = "org.freedesktop.portal.Desktop",
                  path = "/org/freedesktop/portal/desktop";
    const QString request = path + "/request/1_1/q";
    MockService desktop(bus, portal, path, {portal, path, "org.freedesktop.portal.Inhibit"});
    desktop.mock("AddMethod", {"", "Inhibit", "sua{sv}", "o",
                               "self.AddObject('" + request +
                                   "', 'org.freedesktop.portal.Request', "
                                   "{}, [('Close', '', '', '')]); ret = dbus.ObjectPath('" +
                                   request + "')"});
    inhibitor.inhibit("Converting b.mid").reset();
    EXPECT_TRUE(desktop.saw("Inhibit \"\" 12 {\"reason\": \"Converting b.mid\"}\n"))
        << "suspend (4) and idle (8)";
    EXPECT_TRUE(desktop.saw("Close\n"));
    EXPECT_FALSE(saver.log().contains("b.mid")) << "only the first service is asked";
}

// The main window holds logind's lock through a run and lets go however it ends; a user in
// another window, and only such a user, is told how it ended.
class WindowOnTheBus : public MainWindowFixture {
protected:
    void SetUp() override {
        platform::SetNotifier(&notifier);
        platform::SetSleepInhibitor(&inhibitor);
        MainWindowFixture::SetUp();
    }
    PrivateBus bus;
    DbusNotifier notifier{bus.bus, [](const QString&) { return true; }};
    DbusInhibitor inhibitor{"Quillory", AllHolds, bus.bus, bus.bus};
};

TEST_F(WindowOnTheBus, ARunHoldsLogindsLockAndTellsHowItEnded) {
    MockService logind(bus, "org.freedesktop.login1", "/org/freedesktop/login1", {"-t", "logind"});
    MockService daemon = notifications(bus);
    WriteBytes(program.filePath("tune.mid"), "MThd");
    chooseSource(program.filePath("tune.mid"));
    chooseTarget(program.filePath("tune.wav"));
    const std::tuple<bool, std::function<void()>, QString> ends[] = {
        {true, [&] { emit renderer->RenderDone(); }, "tune.wav is finished."},
        {false, [&] { emit renderer->RenderDone(); }, ""},
        {true, [&] { click("cmdConvert"); }, "tune.wav was stopped."},
        {true, [&] { emit renderer->RenderFailed("The disk is full."); }, "tune.wav failed."},
        {true, [&] { window.reset(); }, ""}, // closed mid-run: nothing to tell
    };
    for (const auto& [userAway, end, told] : ends) {
        away = userAway;
        boxes.answers = {platform::MsgAnswer::Yes};
        click("cmdConvert");
        EXPECT_TRUE(logindHolds(bus).startsWith(
            "([('sleep:idle', 'Quillory', 'Converting tune.mid', 'block',"));
        end();
        EXPECT_TRUE(WaitUntil([&] { return logindHolds(bus) == "(@a(ssssuu) [],)"; })) << told;
        if (!told.isEmpty()) {
            EXPECT_TRUE(daemon.saw('"' + told + '"'));
        }
    }
    ProcessEventsFor(200);
    EXPECT_EQ(daemon.log().count("Notify"), 3);
}

// A batch holds the screen saver's lock, without logind, until it ends.
TEST_F(DesktopBus, TheBatchConverterHoldsTheSessionForItsBatch) {
    MockService saver = screenSaver(bus, 7);
    // One quarter note of piano.
    WriteBytes(bus.dir.filePath("a.mid"), QByteArray("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x0c"
                                                     "\0\x90\x3c\x64\x60\x80\x3c\x40\0\xff\x2f\0",
                                                     34));
    QProcess batch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address);
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + bus.dir.filePath("none"));
    batch.setProcessEnvironment(env);
    batch.start(QUILLORY_CONVERT_BINARY,
                {bus.dir.filePath("a.mid"), "-o", bus.dir.filePath("a.wav"), "--soundfont",
                 "/usr/share/sounds/sf2/TimGM6mb.sf2"});
    ASSERT_TRUE(batch.waitForFinished(120000));
    EXPECT_EQ(batch.exitCode(), 0) << batch.readAllStandardError().toStdString();
    EXPECT_TRUE(saver.saw("Inhibit \"quillory-convert\" \"Converting a file\"\n"));
    EXPECT_TRUE(saver.log().endsWith("UnInhibit 7\n"));
}

} // namespace
