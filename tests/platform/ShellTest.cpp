// The real desktop seam, starting nothing: a document goes to the desktop's opener (an
// execute bit changes nothing) and a missing one goes nowhere; whether a document has a viewer
// comes from its MIME type, the desktop's association and the association's installed entry.
#include "platform/Shell.h"

#include "tests/support/Fakes.h"
#include "tests/support/FileHelpers.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// Stands in for the desktop's opener: QDesktopServices hands file URLs to it instead.
class OpenerCatcher : public QObject {
    Q_OBJECT
public:
    OpenerCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenerCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    Q_INVOKABLE void open(const QUrl& url) { opened.push_back(url); }
    std::vector<QUrl> opened;
};

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

TEST_F(ShellTest, DocumentsGoToTheOpenerEvenWithTheirExecuteBitAndMissingOnesNowhere) {
    OpenerCatcher opener;
    ASSERT_TRUE(QFileInfo(help).isExecutable());
    EXPECT_TRUE(platform::ShellExecute("open", help, QString(), QString()));
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0], QUrl::fromLocalFile(help));

    EXPECT_FALSE(platform::ShellExecute("open", dir.filePath("gone.chm"), QString(), QString()));
    EXPECT_FALSE(platform::ShellExecute("open", dir.path(), QString(), QString()));
    EXPECT_EQ(opener.opened.size(), 1u) << "nothing to open, nothing started";
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

#include "ShellTest.moc"
