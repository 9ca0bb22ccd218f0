// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The control registries: entries written, read back, removed; the per-user registry before
// the system one; registries that are missing, damaged, unusable or unwritable.
#include "RedirectedRegistry.h"

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform::control;

namespace {

ClassRegistration Sample() {
    ClassRegistration e;
    e.progId = QStringLiteral("Sample.Control");
    e.classId = *Guid::FromString(QStringLiteral("{11111111-2222-3333-4444-555555555555}"));
    e.className = QStringLiteral("Control");
    e.libraryPath = QStringLiteral("/opt/sample/libsample.so");
    e.version = QStringLiteral("1.00");
    e.typeLibId = *Guid::FromString(QStringLiteral("{66666666-7777-8888-9999-AAAAAAAAAAAA}"));
    e.typeLibName = QStringLiteral("Sample");
    e.typeLibHelp = QStringLiteral("Sample help");
    e.typeLibVersion = QStringLiteral("1.0");
    e.typeLibLocale = 0x0409;
    return e;
}

using ControlRegistry = RedirectedRegistry;

TEST_F(ControlRegistry, RegisteredClassReadsBackWhole) {
    ClassRegistration found;
    EXPECT_EQ(LookupClass(QStringLiteral("Sample.Control"), &found), LookupResult::NoRegistry);
    ASSERT_EQ(RegisterClass(Sample()), hr::Ok);
    ASSERT_EQ(LookupClass(QStringLiteral("sample.control"), &found), LookupResult::Found);
    const ClassRegistration e = Sample();
    EXPECT_EQ(found.classId, e.classId);
    EXPECT_EQ(found.libraryPath, e.libraryPath);
    EXPECT_EQ(found.version, e.version);
    EXPECT_TRUE(found.isControl);
    EXPECT_EQ(found.typeLibId, e.typeLibId);
    EXPECT_EQ(found.typeLibName, e.typeLibName);
    EXPECT_EQ(found.typeLibHelp, e.typeLibHelp);
    EXPECT_EQ(found.typeLibLocale, 0x0409);
    EXPECT_EQ(LookupClass(QStringLiteral("Other.Control"), &found), LookupResult::NotRegistered);
}

TEST_F(ControlRegistry, UnregisterRemovesOnlyTheClassesEntries) {
    WriteRegistry("; kept\n[ProgID Other.Control]\nCLSID={12345678-1234-1234-1234-123456789012}\n");
    ASSERT_EQ(RegisterClass(Sample()), hr::Ok);
    const ClassRegistration e = Sample();
    ASSERT_EQ(UnregisterClass(e.progId, e.classId, e.typeLibId), hr::Ok);
    const QString text = RegistryText();
    EXPECT_FALSE(text.contains(QStringLiteral("Sample")));
    EXPECT_FALSE(text.contains(e.classId.ToString()));
    EXPECT_TRUE(text.startsWith(QStringLiteral("; kept\n[ProgID Other.Control]\nCLSID=")));
    ClassRegistration found;
    EXPECT_EQ(LookupClass(e.progId, &found), LookupResult::NotRegistered);
}

TEST_F(ControlRegistry, UnregisterWithoutRegistryCreatesNone) {
    const ClassRegistration e = Sample();
    EXPECT_EQ(UnregisterClass(e.progId, e.classId, e.typeLibId), hr::Ok);
    EXPECT_FALSE(QFileInfo::exists(ControlRegistryPath()));
}

TEST_F(ControlRegistry, DamagedEntriesAreReportedAsSuch) {
    ClassRegistration found;
    WriteRegistry("[ProgID Sample.Control]\nCLSID=not a class id\n");
    EXPECT_EQ(LookupClass(QStringLiteral("Sample.Control"), &found), LookupResult::Damaged);
    WriteRegistry("[ProgID Sample.Control]\nCLSID={11111111-2222-3333-4444-555555555555}\n");
    EXPECT_EQ(LookupClass(QStringLiteral("Sample.Control"), &found), LookupResult::Damaged);
}

TEST_F(ControlRegistry, UnwritableRegistryIsAnError) {
    // A file where the registry's folder should be.
    QFile blocker(home.filePath(QStringLiteral("controls")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(RegisterClass(Sample()), hr::RegistryWrite);
}

class SystemWide : public RedirectedRegistry {
protected:
    // Registers Sample() with the given library in the registry at path, as "regctl --system"
    // has the library's own registration code do.
    void RegisterInto(const QString& path, const QString& library) {
        qputenv(RegistrationTargetVariable, QFile::encodeName(path));
        ClassRegistration e = Sample();
        e.libraryPath = library;
        ASSERT_EQ(RegisterClass(e), hr::Ok);
        qunsetenv(RegistrationTargetVariable);
    }
    Lookup Find(ClassRegistration* found = nullptr) {
        ClassRegistration ignored;
        return FindClass(QStringLiteral("Sample.Control"), found ? found : &ignored);
    }
};

TEST_F(SystemWide, ServesEveryUserAndTheUsersOwnEntryWins) {
    RegisterInto(SystemRegistry(), QStringLiteral("/usr/lib/sample/libsample.so"));
    EXPECT_FALSE(QFileInfo::exists(ControlRegistryPath()));
    ClassRegistration found;
    Lookup lookup = Find(&found);
    ASSERT_EQ(lookup.result, LookupResult::Found);
    EXPECT_EQ(lookup.registry, SystemRegistry());
    EXPECT_EQ(found.libraryPath, QStringLiteral("/usr/lib/sample/libsample.so"));

    // A user registry that does not name the class is passed over.
    WriteRegistry("[ProgID Other.Control]\nCLSID={12345678-1234-1234-1234-123456789012}\n");
    EXPECT_EQ(Find().registry, SystemRegistry());

    RegisterInto(ControlRegistryPath(), home.filePath(QStringLiteral("mine/libsample.so")));
    lookup = Find(&found);
    ASSERT_EQ(lookup.result, LookupResult::Found);
    EXPECT_EQ(lookup.registry, ControlRegistryPath());
    EXPECT_EQ(found.libraryPath, home.filePath(QStringLiteral("mine/libsample.so")));
}

TEST_F(SystemWide, UnusableRegistriesArePassedOverAndNamedWhenNothingServes) {
    const QString user = ControlRegistryPath();
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"binary",
         [&] {
             WriteRegistry(QByteArray("\x7f"
                                      "ELF\x00\x01[ProgID Sample.Control]\nCLSID=\x00\x00",
                                      36));
         },
         "not a text file"},
        {"huge",
         [&] { WriteRegistry(QByteArray(2 * 1024 * 1024, ';') + "\n[ProgID Sample.Control]\n"); },
         "too large"},
        {"folder", [&] { QDir().mkpath(user); }, "not a regular file"},
        {"in a folder others can write",
         [&] {
             WriteRegistry("[ProgID Sample.Control]\nCLSID={11111111-2222-3333-4444-555555555555}");
             ASSERT_EQ(chmod(QFile::encodeName(QFileInfo(user).absolutePath()), 01777), 0);
         },
         "can be written by other users"},
    };
    for (const Case& c : cases) {
        QDir(QFileInfo(user).absolutePath()).removeRecursively();
        QFile::remove(SystemRegistry());
        c.make();
        Lookup lookup = Find();
        EXPECT_EQ(lookup.result, LookupResult::Unreadable) << c.what;
        EXPECT_EQ(lookup.registry, user) << c.what;
        EXPECT_TRUE(lookup.problem.contains(QLatin1String(c.problem)))
            << c.what << ": " << qPrintable(lookup.problem);

        RegisterInto(SystemRegistry(), QStringLiteral("/usr/lib/sample/libsample.so"));
        lookup = Find();
        EXPECT_EQ(lookup.result, LookupResult::Found) << c.what;
        EXPECT_EQ(lookup.registry, SystemRegistry()) << c.what;
    }
}

TEST_F(SystemWide, UnreadableRegistryIsNamedWithWhy) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    WriteRegistry("[ProgID Sample.Control]\n");
    ASSERT_TRUE(QFile::setPermissions(ControlRegistryPath(), QFileDevice::WriteOwner));
    const Lookup lookup = Find();
    EXPECT_EQ(lookup.result, LookupResult::Unreadable);
    EXPECT_TRUE(lookup.problem.contains(QStringLiteral("cannot be read")))
        << qPrintable(lookup.problem);
}

} // namespace
