// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The real desktop seam, starting nothing: a document goes to the desktop's opener (an
// execute bit changes nothing) and a missing one goes nowhere, and what the opener could not
// open comes back as a reason; whether a document has a viewer comes from its MIME type, the
// desktop's association and the association's installed entry.
#include "platform/Shell.h"

#include "tests/support/EventWait.h"
#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : name_(name)
        , saved_(qgetenv(name)) {
        qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv() {
        if (saved_.isNull())
            qunsetenv(name_);
        else
            qputenv(name_, saved_);
    }

private:
    const char* name_;
    QByteArray saved_;
};

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // A help file with its execute bit, as on a FAT mount, that runs if anything runs it.
        help = dir.filePath("quillory.chm");
        WriteBytes(help, "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(help, QFile::permissions(help) | QFile::ExeOwner | QFile::ExeGroup |
                                        QFile::ExeOther);
        // The system's data folders stay: they hold the MIME database.
        userApplications = qEnvironmentVariable("XDG_DATA_HOME") + "/applications";
        QDir(userApplications).mkpath("qlrvendor");
        QDir(userApplications).mkpath("nested");
    }
    static void install(const QString& entry) {
        WriteBytes(entry, "[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n");
    }

    ScopedUserFolders folders{ScopedUserFolders::SystemData::Kept};
    QTemporaryDir dir;
    QString help;
    QString userApplications;
};

// A pretend program on a PATH of its own that notes its arguments and ends with a status.
void WriteProgram(const QString& path, int status) {
    WriteBytes(path,
               "#!/bin/sh\necho \"$*\" >> \"$0.log\"\nexit " + QByteArray::number(status) + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The answer of the real shell, waited for.
std::optional<QString> Open(const QString& file, const QString& parameters = QString()) {
    std::optional<QString> answer;
    QObject window;
    platform::ShellExecute("open", file, parameters, QString(), &window,
                           [&](const QString& failure) { answer = failure; });
    WaitUntil([&] { return answer.has_value(); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return answer;
}

TEST_F(ShellTest, DocumentsGoToTheOpenerEvenWithTheirExecuteBitAndWhatItCannotOpenIsSaid) {
    const QString bin = dir.filePath("bin");
    QDir().mkpath(bin);
    ScopedEnv path("PATH", bin);
    ASSERT_TRUE(QFileInfo(help).isExecutable());
    const std::pair<int, QString> answers[] = {
        {0, ""},
        {3, "no application on this computer opens it"},
        {4, "the desktop's opener xdg-open failed (exit status 4)"}};
    for (const auto& [status, failure] : answers) {
        WriteProgram(bin + "/xdg-open", status);
        EXPECT_EQ(Open(help), failure);
        EXPECT_EQ(Open("IExplore.exe", "https://example.org/ "), failure);
    }
    EXPECT_EQ(ReadBytes(bin + "/xdg-open.log"),
              (help + "\nhttps://example.org/\n").repeated(3).toUtf8());
    EXPECT_EQ(Open(dir.filePath("gone.chm")), "the file does not exist");
    EXPECT_EQ(Open(dir.path()), "the file does not exist");
    EXPECT_EQ(ReadBytes(bin + "/xdg-open.log").count('\n'), 6) << "nothing to open, nothing run";

    QFile::remove(bin + "/xdg-open");
    EXPECT_TRUE(Open(help).value_or("").startsWith("no application on this computer opens it"));
    EXPECT_TRUE(Open("sndvol32.exe ", "/r").value_or("").startsWith("none of pavucontrol, "));
}

TEST_F(ShellTest, AViewerIsTheAssociatedApplicationWhoseEntryIsInstalled) {
    install(userApplications + "/viewer.desktop");
    install(userApplications + "/qlrvendor/app.desktop");
    install(userApplications + "/nested/qlr-deep.desktop");
    struct Case {
        const char* answer;
        bool viewer;
    };
    const Case cases[] = {
        {"", false},                     // no association
        {"viewer.desktop", true},        // in the user's applications
        {"qlrvendor-app.desktop", true}, // vendor-app stands for vendor/app
        {"qlr-deep.desktop", true},      // in a folder below an applications folder
        {"qlr-gone.desktop", false},     // associated, since uninstalled
    };
    for (const Case& c : cases) {
        std::vector<QString> asked;
        const bool viewer = platform::XdgHasViewerFor(help, [&](const QString& type) {
            asked.push_back(type);
            return QString::fromLatin1(c.answer) + "\n";
        });
        EXPECT_EQ(viewer, c.viewer) << c.answer;
        EXPECT_EQ(asked, std::vector<QString>{"application/vnd.ms-htmlhelp"}) << c.answer;
    }
    const QString entryPath = userApplications + "/viewer.desktop";
    EXPECT_TRUE(platform::XdgHasViewerFor(help, [&](const QString&) { return entryPath; }));

    bool asked = false;
    EXPECT_FALSE(platform::XdgHasViewerFor(dir.filePath("gone.chm"), [&](const QString&) {
        asked = true;
        return QStringLiteral("viewer.desktop");
    }));
    EXPECT_FALSE(asked) << "a missing document has no type to ask about";
}

// xdg-mime answers as xdg-open decides; a pretend one on PATH shows what it is asked.
TEST_F(ShellTest, TheDesktopIsAskedThroughXdgMime) {
    install(userApplications + "/viewer.desktop");
    const QString bin = dir.filePath("bin");
    QDir().mkpath(bin);
    WriteBytes(bin + "/xdg-mime",
               "#!/bin/sh\n"
               "[ \"$1 $2 $3\" = 'query default application/vnd.ms-htmlhelp' ] || exit 0\n"
               "echo viewer.desktop\n");
    QFile::setPermissions(bin + "/xdg-mime", QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther);
    const QString page = dir.filePath("index.html");
    WriteBytes(page, "<html></html>");
    {
        ScopedEnv path("PATH", bin);
        EXPECT_EQ(platform::XdgDefaultApplication("application/vnd.ms-htmlhelp"), "viewer.desktop");
        EXPECT_TRUE(platform::ShellHasViewerFor(help));
        EXPECT_FALSE(platform::ShellHasViewerFor(page)) << "nothing associated with text/html";
    }
    ScopedEnv path("PATH", dir.filePath("empty"));
    EXPECT_EQ(platform::XdgDefaultApplication("application/vnd.ms-htmlhelp"), "");
    EXPECT_FALSE(platform::ShellHasViewerFor(help)) << "without xdg-mime, no xdg-open either";
}

} // namespace
