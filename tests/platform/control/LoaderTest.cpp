// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Creating a control when its registration cannot be used: the host's message names the
// control, says what is wrong and how to register it, and no library from a place other users
// can change is ever loaded.
#include "platform/control/Loader.h"
#include "RedirectedRegistry.h"
#include "platform/Profile.h"

#include <QTemporaryFile>
#include <sys/stat.h>

using namespace platform::control;

namespace {

const Guid SampleClass =
    *Guid::FromString(QStringLiteral("{11111111-2222-3333-4444-555555555555}"));

class Loader : public RedirectedRegistry {
protected:
    // A registry entry naming library for Sample.Control.
    void Register(const QString& registry, const QString& library) {
        const QString cls = QStringLiteral("CLSID ") + SampleClass.ToString();
        QDir().mkpath(QFileInfo(registry).absolutePath());
        ASSERT_TRUE(platform::WritePrivateProfileString(QStringLiteral("ProgID Sample.Control"),
                                                        QStringLiteral("CLSID"),
                                                        SampleClass.ToString(), registry));
        ASSERT_TRUE(platform::WritePrivateProfileString(cls, QStringLiteral("InprocServer"),
                                                        library, registry));
    }
    // A file that is no library: were it loaded, the message would say it cannot be loaded.
    QString PlaceFakeLibrary(const QString& folder, mode_t folderMode) {
        QDir().mkpath(folder);
        const QString path = QDir(folder).filePath(QStringLiteral("libsample.so"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a library\n");
        file.close();
        EXPECT_EQ(chmod(QFile::encodeName(folder), folderMode), 0);
        return path;
    }
    QString Create() {
        const CreateRequest request{QStringLiteral("Sample.Control"), SampleClass,
                                    QStringLiteral("libsample.so")};
        void* object = reinterpret_cast<void*>(1);
        QString message;
        EXPECT_TRUE(Failed(CreateObject(request, IUnknown::Iid, &object, &message)));
        EXPECT_EQ(object, nullptr);
        EXPECT_TRUE(message.contains(QStringLiteral("Sample.Control"))) << qPrintable(message);
        EXPECT_TRUE(message.contains(QStringLiteral("regctl "))) << qPrintable(message);
        return message;
    }
};

TEST_F(Loader, NoRegistryNamesEveryRegistrySearched) {
    const QString message = Create();
    EXPECT_TRUE(message.contains(ControlRegistryPath())) << qPrintable(message);
    EXPECT_TRUE(message.contains(SystemRegistry())) << qPrintable(message);
}

TEST_F(Loader, UnusableRegistryIsNamedWithWhy) {
    WriteRegistry(QByteArray("[ProgID Sample.Control]\0\0", 25));
    const QString message = Create();
    EXPECT_TRUE(message.contains(ControlRegistryPath())) << qPrintable(message);
    EXPECT_TRUE(message.contains(QStringLiteral("not a text file"))) << qPrintable(message);
}

TEST_F(Loader, StaleSystemEntryNamingAMissingLibrary) {
    const QString gone = home.filePath(QStringLiteral("removed/libsample.so"));
    Register(SystemRegistry(), gone);
    const QString message = Create();
    EXPECT_TRUE(message.contains(gone)) << qPrintable(message);
    EXPECT_TRUE(message.contains(QStringLiteral("cannot be loaded"))) << qPrintable(message);
}

TEST_F(Loader, LibraryWhereOthersCanWriteIsNeverLoaded) {
    struct Place {
        QString folder;
        mode_t mode;
    };
    std::vector<Place> places = {
        {home.filePath(QStringLiteral("shared")), 0777},
        // The sticky bit keeps others from replacing our file, but the file may be theirs.
        {home.filePath(QStringLiteral("sticky")), 01777},
    };
    for (const Place& place : places) {
        const QString library = PlaceFakeLibrary(place.folder, place.mode);
        Register(ControlRegistryPath(), library);
        const QString message = Create();
        EXPECT_TRUE(message.contains(QStringLiteral("is not loaded"))) << qPrintable(message);
        EXPECT_TRUE(message.contains(QStringLiteral("can be written by other users")))
            << qPrintable(message);
        EXPECT_FALSE(message.contains(QStringLiteral("cannot be loaded"))) << qPrintable(message);
    }

    // A library others can change in a folder of our own.
    const QString library = PlaceFakeLibrary(home.filePath(QStringLiteral("own")), 0755);
    ASSERT_EQ(chmod(QFile::encodeName(library), 0666), 0);
    Register(ControlRegistryPath(), library);
    EXPECT_TRUE(Create().contains(QStringLiteral("can be changed by other users")));

    // A link from a safe place does not make the file it leads to safe.
    const QString link = home.filePath(QStringLiteral("own/liblink.so"));
    ASSERT_TRUE(QFile::link(places[0].folder + QStringLiteral("/libsample.so"), link));
    Register(ControlRegistryPath(), link);
    EXPECT_TRUE(Create().contains(QStringLiteral("can be written by other users")));
}

TEST_F(Loader, LibraryInTmpIsRefused) {
    struct stat st {};
    if (stat("/tmp", &st) != 0 || (st.st_mode & 01777) != 01777)
        GTEST_SKIP() << "no shared /tmp here";
    QTemporaryFile library(QStringLiteral("/tmp/libsample-XXXXXX.so"));
    ASSERT_TRUE(library.open());
    Register(ControlRegistryPath(), library.fileName());
    const QString message = Create();
    EXPECT_TRUE(message.contains(QStringLiteral("the folder /tmp can be written by other users")))
        << qPrintable(message);
}

TEST_F(Loader, LibraryNamedWithoutItsFolderIsNotLookedFor) {
    Register(ControlRegistryPath(), QStringLiteral("libsample.so"));
    EXPECT_TRUE(Create().contains(QStringLiteral("without its folder")));
}

} // namespace
