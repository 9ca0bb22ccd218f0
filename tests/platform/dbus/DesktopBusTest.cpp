// The desktop session's services over D-Bus, against python3-dbusmock on a private bus: the
// notification with its "Open folder", the sleep hold through the first service the session
// offers and its release, the main window's runs holding and telling through them, and the
// batch converter's hold. Without a service, nothing is called and nothing breaks.
#include "app/main/frmMain.h"
#include "platform/dbus/DbusInhibitor.h"
#include "platform/dbus/DbusNotifier.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/platform/dbus/MockBus.h"
#include "tests/support/MidiWriter.h"

#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QUrl>

namespace {

using platform::dbus::DbusInhibitor;
using platform::dbus::DbusNotifier;
using platform::dbus::HoldVia;

const QStringList AllServices{"--template", "notification_daemon", "-p",
                              R"({"capabilities": "body actions"})"};

QStringList strings(const QVariant& v) {
    return v.canConvert<QDBusArgument>() ? qdbus_cast<QStringList>(v.value<QDBusArgument>())
                                         : v.toStringList();
}

QVariantMap map(const QVariant& v) {
    return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
}

// The holds logind keeps, each as what, who, why and mode.
std::vector<QStringList> logindHolds(PrivateBus& bus) {
    const QDBusMessage reply = bus.bus.call(
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "ListInhibitors"));
    std::vector<QStringList> holds;
    if (reply.arguments().isEmpty())
        return holds;
    const auto list = reply.arguments().constFirst().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        holds.push_back({what, who, why, mode});
    }
    list.endArray();
    return holds;
}

const QStringList Logind{"--template", "logind"};

class DesktopBus : public ::testing::Test {
protected:
    PrivateBus bus;
};

TEST_F(DesktopBus, TheNoticeNamesTheFileAndItsActionOpensTheFolder) {
    QTemporaryDir dir;
    const QString done = dir.filePath("song & co.mp3");
    WriteBytes(done, "ID3");
    MockService daemon(bus, AllServices, "org.freedesktop.Notifications",
                       "/org/freedesktop/Notifications");
    QStringList opened;
    DbusNotifier notifier(bus.bus, [&](const QString& folder) {
        opened << folder;
        return true;
    });
    ASSERT_TRUE(notifier.notify({"Quillory", "song & co.mp3 is finished.", done}));
    const auto notify = daemon.waitForCall("Notify");
    ASSERT_TRUE(notify);
    ASSERT_EQ(notify->args.size(), 8);
    EXPECT_EQ(notify->args[0].toString(), "Quillory");
    EXPECT_EQ(notify->args[3].toString(), "Quillory");
    EXPECT_EQ(notify->args[4].toString(), "song & co.mp3 is finished.") << "no markup to escape";
    EXPECT_EQ(strings(notify->args[5]), (QStringList{"open-folder", "Open folder"}));
    EXPECT_EQ(map(notify->args[6]).value("desktop-entry").toString(), "quillory");

    // Without a file manager on the bus the folder goes to xdg-open.
    const auto emitAction = [&](uint id) {
        daemon.mock("EmitSignal", {"org.freedesktop.Notifications", "ActionInvoked", "us",
                                   QVariantList{id, QStringLiteral("open-folder")}});
    };
    emitAction(1);
    EXPECT_TRUE(WaitUntil([&] { return !opened.isEmpty(); }, 10000));
    EXPECT_EQ(opened, QStringList{dir.path()});

    MockService files(bus,
                      {"org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                       "org.freedesktop.FileManager1"},
                      "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1");
    files.addMethod("", "ShowItems", "ass", "", "");
    ASSERT_TRUE(notifier.notify({"Quillory", "song & co.mp3 is finished.", done}));
    ASSERT_TRUE(WaitUntil([&] { return daemon.calls().size() >= 4; }, 10000));
    emitAction(2);
    const auto shown = files.waitForCall("ShowItems");
    ASSERT_TRUE(shown);
    EXPECT_EQ(strings(shown->args[0]), QStringList{QUrl::fromLocalFile(done).toString()});
    EXPECT_EQ(opened.size(), 1) << "the file manager shows it, not xdg-open";
}

// Without any service of the session nothing is sent and nothing is held.
TEST_F(DesktopBus, WithoutServicesNothingIsCalled) {
    DbusNotifier notifier(bus.bus, [](const QString&) { return true; });
    EXPECT_FALSE(notifier.notify({"Quillory", "a.mp3 is finished.", "/tmp/a.mp3"}));
    DbusInhibitor inhibitor("Quillory", {HoldVia::Portal, HoldVia::Login1, HoldVia::ScreenSaver},
                            bus.bus, bus.bus);
    EXPECT_EQ(inhibitor.inhibit("Converting a.mid"), nullptr);
    const QDBusConnection none(QStringLiteral("none"));
    DbusInhibitor noBus("Quillory", {HoldVia::Login1}, none, none);
    EXPECT_EQ(noBus.inhibit("Converting a.mid"), nullptr) << "no bus at all";
}

// The portal comes first, then logind, then the screen saver; whichever holds lets go when the
// hold is dropped.
TEST_F(DesktopBus, TheFirstServiceOfTheSessionHoldsUntilReleased) {
    const QString request = "/org/freedesktop/portal/desktop/request/1_1/quillory";
    MockService screenSaver(bus,
                            {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                             "org.freedesktop.ScreenSaver"},
                            "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver");
    screenSaver.addMethod("", "Inhibit", "ss", "u", "ret = 42");
    screenSaver.addMethod("", "UnInhibit", "u", "", "");
    DbusInhibitor inhibitor("Quillory", {HoldVia::Portal, HoldVia::Login1, HoldVia::ScreenSaver},
                            bus.bus, bus.bus);
    {
        auto hold = inhibitor.inhibit("Converting a.mid");
        ASSERT_NE(hold, nullptr);
        const auto taken = screenSaver.waitForCall("Inhibit");
        ASSERT_TRUE(taken);
        EXPECT_EQ(taken->args, (QVariantList{"Quillory", "Converting a.mid"}));
    }
    const auto released = screenSaver.waitForCall("UnInhibit");
    ASSERT_TRUE(released);
    EXPECT_EQ(released->args, QVariantList{42u});

    MockService login(bus, Logind, "org.freedesktop.login1", "/org/freedesktop/login1");
    screenSaver.mock("ClearCalls");
    {
        auto hold = inhibitor.inhibit("Converting b.mid");
        ASSERT_NE(hold, nullptr);
        const std::vector<QStringList> held{
            {"sleep:idle", "Quillory", "Converting b.mid", "block"}};
        EXPECT_EQ(logindHolds(bus), held);
    }
    EXPECT_TRUE(WaitUntil([&] { return logindHolds(bus).empty(); }, 10000)) << "descriptor closed";

    MockService portal(bus,
                       {"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                        "org.freedesktop.portal.Inhibit"},
                       "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop");
    portal.addMethod("", "Inhibit", "sua{sv}", "o",
                     "self.AddObject('" + request +
                         "', 'org.freedesktop.portal.Request', {}, [('Close', '', '', '')]); "
                         "ret = dbus.ObjectPath('" +
                         request + "')");
    {
        auto hold = inhibitor.inhibit("Converting c.mid");
        ASSERT_NE(hold, nullptr);
        const auto taken = portal.waitForCall("Inhibit");
        ASSERT_TRUE(taken);
        EXPECT_EQ(taken->args[1].toUInt(), 4u | 8u) << "suspend and idle";
        EXPECT_EQ(map(taken->args[2]).value("reason").toString(), "Converting c.mid");
    }
    EXPECT_TRUE(portal.waitForCall("Close", request));
    EXPECT_TRUE(logindHolds(bus).empty());
    EXPECT_TRUE(screenSaver.calls().empty()) << "only the first service is asked";
}

// The main window holds the session awake through its run and lets go however the run ends;
// a user in another window is told how it ended.
class WindowOnTheBus : public MainWindowFixture {
protected:
    void SetUp() override {
        // The fixture's fake session gives way to the services on the private bus.
        platform::SetNotifier(&notifier);
        platform::SetSleepInhibitor(&inhibitor);
        MainWindowFixture::SetUp();
    }
    void TearDown() override {
        platform::SetNotifier(nullptr);
        platform::SetSleepInhibitor(nullptr);
    }
    PrivateBus bus;
    DbusNotifier notifier{bus.bus, [](const QString&) { return true; }};
    DbusInhibitor inhibitor{
        "Quillory", {HoldVia::Portal, HoldVia::Login1, HoldVia::ScreenSaver}, bus.bus, bus.bus};
};

TEST_F(WindowOnTheBus, ARunHoldsTheSessionAwakeAndTellsHowItEnded) {
    MockService login(bus, Logind, "org.freedesktop.login1", "/org/freedesktop/login1");
    MockService daemon(bus, AllServices, "org.freedesktop.Notifications",
                       "/org/freedesktop/Notifications");
    const QString source = program.filePath("tune.mid");
    WriteBytes(source, "MThd");
    chooseSource(source);
    chooseTarget(program.filePath("tune.wav"));
    away = true;
    struct Row {
        const char* end;
        std::function<void()> ending;
        QString body; // empty: the window closed, nothing is told
    };
    const Row rows[] = {
        {"stop", [&] { click("cmdConvert"); }, "tune.wav was stopped."},
        {"failure", [&] { emit renderer->RenderFailed("The disk is full."); }, "tune.wav failed."},
        {"close", [&] { window.reset(); }, ""},
    };
    for (const Row& row : rows) {
        daemon.mock("ClearCalls");
        boxes.answers = {platform::MsgAnswer::Yes};
        click("cmdConvert");
        const std::vector<QStringList> held{
            {"sleep:idle", "Quillory", "Converting tune.mid", "block"}};
        EXPECT_EQ(logindHolds(bus), held) << row.end;
        row.ending();
        EXPECT_TRUE(WaitUntil([&] { return logindHolds(bus).empty(); }, 10000)) << row.end;
        if (row.body.isEmpty())
            continue;
        const auto notify = daemon.waitForCall("Notify");
        ASSERT_TRUE(notify) << row.end;
        EXPECT_EQ(notify->args[4].toString(), row.body);
    }
    ProcessEventsFor(200);
    EXPECT_TRUE(daemon.calls().empty()) << "closing the window mid-run tells nothing";
}

// A batch holds logind's or, without it, the screen saver's lock until it ends.
TEST_F(DesktopBus, TheBatchConverterHoldsTheSessionForItsBatch) {
    MockService screenSaver(bus,
                            {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                             "org.freedesktop.ScreenSaver"},
                            "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver");
    screenSaver.addMethod("", "Inhibit", "ss", "u", "ret = 7");
    screenSaver.addMethod("", "UnInhibit", "u", "", "");
    QTemporaryDir dir;
    using namespace midiwriter;
    Track track;
    track.program(0, 0, 0).noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack(0);
    save(dir.filePath("a.mid").toStdString(), file(0, 96, {track}));
    QProcess batch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address);
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.filePath("no-system-bus"));
    batch.setProcessEnvironment(env);
    batch.start(QUILLORY_CONVERT_BINARY,
                {dir.filePath("a.mid"), "-o", dir.filePath("a.wav"), "--soundfont",
                 "/usr/share/sounds/sf2/TimGM6mb.sf2", "--quiet"});
    ASSERT_TRUE(batch.waitForFinished(120000));
    EXPECT_EQ(batch.exitCode(), 0) << batch.readAllStandardError().toStdString();
    const auto calls = screenSaver.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "Inhibit");
    EXPECT_EQ(calls[0].args.value(0).toString(), "quillory-convert");
    EXPECT_EQ(calls[0].args.value(1).toString(), "Converting a file");
    EXPECT_EQ(calls[1].method, "UnInhibit");
    EXPECT_EQ(calls[1].args, QVariantList{7u});
}

} // namespace
