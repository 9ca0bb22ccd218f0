// The per-user control registry: entries written, read back, removed, and registries that are
// missing, damaged or unwritable.
#include "RedirectedRegistry.h"

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
    WriteRegistry(QByteArray("\x7f"
                             "ELF\x00\x01[\xff\xfe]=\n\n\x00\x00garbage",
                             22));
    EXPECT_EQ(LookupClass(QStringLiteral("Sample.Control"), &found), LookupResult::NotRegistered);
}

TEST_F(ControlRegistry, UnwritableRegistryIsAnError) {
    // A file where the registry's folder should be.
    QFile blocker(home.filePath(QStringLiteral("controls")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(RegisterClass(Sample()), hr::RegistryWrite);
}

} // namespace
