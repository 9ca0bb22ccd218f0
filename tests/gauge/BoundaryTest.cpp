// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The control boundary end to end, with the built libombrel.so behind a redirected registry:
// self-registration, creation by ProgID through the host API, dispatch by id, the unload
// check, and the host's messages when the control cannot be found or loaded.
#include "MainWindowLayout.h"
#include "platform/Profile.h"
#include "platform/control/ControlHost.h"
#include "platform/control/ModulePath.h"
#include "platform/control/OmbrelIds.h"
#include "tests/platform/control/RedirectedRegistry.h"

#include <QLibrary>
#include <QWidget>
#include <memory>

using namespace platform::control;
namespace ids = platform::control::ombrel;

namespace {

class Boundary : public RedirectedRegistry {
protected:
    void SetUp() override {
        RedirectedRegistry::SetUp();
        library.setFileName(QStringLiteral(OMBREL_LIBRARY));
        ASSERT_TRUE(library.load()) << qPrintable(library.errorString());
    }
    HResult Call(const char* entry) {
        const auto f = reinterpret_cast<DllCanUnloadNowFn>(library.resolve(entry));
        return f ? f() : hr::Fail;
    }
    std::unique_ptr<HostedControl> Place(QWidget* parent, PropertyBag* stored, QString* message,
                                         Guid expected = ids::ClassId) {
        HostedControl::Placement p;
        p.control = {QLatin1String(ids::ProgId), expected, QLatin1String(ids::LibraryFileName)};
        p.parent = parent;
        p.geometry = QRect(16, 176, 345, 21);
        p.stored = stored;
        p.ambientFont = QFont(QStringLiteral("Liberation Serif"), 8);
        return HostedControl::Create(p, message);
    }
    void ExpectRegistrationHint(const QString& message) {
        EXPECT_TRUE(message.contains(QLatin1String(ids::ProgId))) << qPrintable(message);
        EXPECT_TRUE(message.contains(QStringLiteral("regctl "))) << qPrintable(message);
        EXPECT_TRUE(message.contains(QLatin1String(ids::LibraryFileName))) << qPrintable(message);
    }

    QLibrary library;
};

TEST_F(Boundary, RegistersItselfUnderProgIdAndClassId) {
    ASSERT_EQ(Call("DllRegisterServer"), hr::Ok);
    ClassRegistration e;
    ASSERT_EQ(LookupClass(QLatin1String(ids::ProgId), &e), LookupResult::Found);
    EXPECT_EQ(e.classId, ids::ClassId);
    EXPECT_EQ(e.libraryPath, QFileInfo(QStringLiteral(OMBREL_LIBRARY)).canonicalFilePath());
    EXPECT_TRUE(e.isControl);
    EXPECT_EQ(e.version, QStringLiteral("1.00"));
    EXPECT_EQ(e.typeLibId, ids::TypeLibId);
    EXPECT_EQ(e.typeLibName, QStringLiteral("Ombrel"));
    EXPECT_EQ(e.typeLibHelp, QStringLiteral("Ombrel"));
    EXPECT_EQ(e.typeLibVersion, QStringLiteral("1.0"));
    EXPECT_EQ(e.typeLibLocale, 0x0409);

    ASSERT_EQ(Call("DllUnregisterServer"), hr::Ok);
    EXPECT_EQ(LookupClass(QLatin1String(ids::ProgId), &e), LookupResult::NotRegistered);
    EXPECT_FALSE(RegistryText().contains(ids::ClassId.ToString()));
}

TEST_F(Boundary, HostCreatesByProgIdAndPutsValueByReference) {
    ASSERT_EQ(Call("DllRegisterServer"), hr::Ok);
    QWidget window;
    window.resize(400, 300);
    QString message;
    auto bar = Place(&window, MainWindowLayout().Get(), &message);
    ASSERT_TRUE(bar) << qPrintable(message);
    ASSERT_NE(bar->Widget(), nullptr);
    EXPECT_EQ(bar->Widget()->parentWidget(), &window);
    EXPECT_EQ(bar->Widget()->geometry(), QRect(16, 176, 345, 21));
    std::vector<DispId> changes;
    bar->SetChangeHandler([&changes](DispId id) { changes.push_back(id); });

    std::int16_t percent = 70;
    EXPECT_EQ(bar->Put(0x68030011, Variant::RefI2(&percent)), hr::Ok);
    Variant value;
    ASSERT_EQ(bar->Get(0x68030011, &value), hr::Ok);
    std::int16_t got = 0;
    value.ToI2(&got);
    EXPECT_EQ(got, 70);
    EXPECT_EQ(bar->Put(QStringLiteral("BackColor"), Variant::I4(0x00E0E0E0)), hr::Ok);
    EXPECT_EQ(changes, (std::vector<DispId>{ids::dispid::Value, ids::dispid::BackColor}));

    const QImage shown = bar->Widget()->grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(1, 1)), QColor(255, 192, 128));
    EXPECT_EQ(QColor(shown.pixel(200, 1)), QColor(255, 192, 128));
    EXPECT_EQ(QColor(shown.pixel(300, 1)), QColor(0xE0, 0xE0, 0xE0));

    EXPECT_EQ(bar->Put(0x12345678, Variant::I2(1)), hr::MemberNotFound);
    EXPECT_EQ(bar->Get(0x12345678, &value), hr::MemberNotFound);
    EXPECT_EQ(bar->Put(QStringLiteral("Maximum"), Variant::I2(1)), hr::UnknownName);
}

TEST_F(Boundary, NewControlWithoutStoredPropertiesAndItsSave) {
    ASSERT_EQ(Call("DllRegisterServer"), hr::Ok);
    QWidget window;
    QString message;
    auto bar = Place(&window, nullptr, &message);
    ASSERT_TRUE(bar) << qPrintable(message);
    Variant value;
    bar->Get(QStringLiteral("Value"), &value);
    std::int16_t got = 0;
    value.ToI2(&got);
    EXPECT_EQ(got, 50);
    auto bag = PropertyBag::Create();
    ASSERT_EQ(bar->Save(bag.Get()), hr::Ok);
    EXPECT_TRUE(bag->Contains(QStringLiteral("Font"))); // the window's font differs
    EXPECT_FALSE(bag->Contains(QStringLiteral("Value")));
}

TEST_F(Boundary, LibraryCanUnloadOnlyWhenNothingOfItLives) {
    ASSERT_EQ(Call("DllRegisterServer"), hr::Ok);
    EXPECT_EQ(Call("DllCanUnloadNow"), hr::Ok);
    QWidget window;
    QString message;
    auto bar = Place(&window, nullptr, &message);
    ASSERT_TRUE(bar) << qPrintable(message);
    EXPECT_EQ(Call("DllCanUnloadNow"), hr::False);
    Variant font;
    ASSERT_EQ(bar->Get(QStringLiteral("Font"), &font), hr::Ok);
    bar.reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), hr::False); // the font object came from the library
    font = Variant();
    EXPECT_EQ(Call("DllCanUnloadNow"), hr::Ok);
}

TEST_F(Boundary, WindowDeletedBeforeTheControl) {
    ASSERT_EQ(Call("DllRegisterServer"), hr::Ok);
    auto window = std::make_unique<QWidget>();
    QString message;
    auto bar = Place(window.get(), MainWindowLayout().Get(), &message);
    ASSERT_TRUE(bar) << qPrintable(message);
    window.reset();
    EXPECT_EQ(bar->Widget(), nullptr);
    std::int16_t percent = 30;
    EXPECT_EQ(bar->Put(ids::dispid::Value, Variant::RefI2(&percent)), hr::Ok);
    bar.reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), hr::Ok);
}

TEST_F(Boundary, MissingRegistryNamesProgIdAndRegisterCommand) {
    QString message;
    QWidget window;
    EXPECT_EQ(Place(&window, nullptr, &message), nullptr);
    ExpectRegistrationHint(message);
    EXPECT_TRUE(message.contains(ControlRegistryPath())) << qPrintable(message);
    EXPECT_TRUE(window.children().isEmpty());
}

TEST_F(Boundary, CorruptRegistryNamesProgIdAndRegisterCommand) {
    WriteRegistry(QByteArray("\x00\xff[ProgID Ombrel.OmbrelGauge\n=\x01\x02", 30));
    QString message;
    EXPECT_EQ(Place(nullptr, nullptr, &message), nullptr);
    ExpectRegistrationHint(message);
    WriteRegistry("[ProgID Ombrel.OmbrelGauge]\nCLSID={F98BA2BD-1CE7-4099-9299-42CC169430F4}\n");
    EXPECT_EQ(Place(nullptr, nullptr, &message), nullptr);
    ExpectRegistrationHint(message);
    EXPECT_TRUE(message.contains(QStringLiteral("damaged"))) << qPrintable(message);
}

TEST_F(Boundary, RegistryPointingAtAMissingOrForeignLibrary) {
    ASSERT_EQ(Call("DllRegisterServer"), hr::Ok);
    const QString section = QStringLiteral("CLSID ") + ids::ClassId.ToString();
    const QString missing = home.filePath(QStringLiteral("gone/libombrel.so"));
    platform::WritePrivateProfileString(section, QStringLiteral("InprocServer"), missing,
                                        ControlRegistryPath());
    QString message;
    EXPECT_EQ(Place(nullptr, nullptr, &message), nullptr);
    ExpectRegistrationHint(message);
    EXPECT_TRUE(message.contains(missing)) << qPrintable(message);

    const QString qtCore = ModulePathOf(reinterpret_cast<const void*>(&qVersion));
    platform::WritePrivateProfileString(section, QStringLiteral("InprocServer"), qtCore,
                                        ControlRegistryPath());
    EXPECT_EQ(Place(nullptr, nullptr, &message), nullptr);
    EXPECT_TRUE(message.contains(QStringLiteral("no DllGetClassObject"))) << qPrintable(message);
}

TEST_F(Boundary, ClassIdOtherThanTheLayoutExpects) {
    ASSERT_EQ(Call("DllRegisterServer"), hr::Ok);
    QString message;
    const Guid other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(Place(nullptr, nullptr, &message, other), nullptr);
    EXPECT_TRUE(message.contains(other.ToString())) << qPrintable(message);
    ExpectRegistrationHint(message);
}

TEST_F(Boundary, FactoryServesOnlyItsOwnClass) {
    const auto get = reinterpret_cast<DllGetClassObjectFn>(library.resolve("DllGetClassObject"));
    ASSERT_NE(get, nullptr);
    void* out = reinterpret_cast<void*>(1);
    const Guid other{1, 2, 3, {}};
    EXPECT_EQ(get(&other, &IClassFactory::Iid, &out), hr::ClassNotAvailable);
    EXPECT_EQ(out, nullptr);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get(&ids::ClassId, &IClassFactory::Iid, reinterpret_cast<void**>(factory.Receive())),
              hr::Ok);
    ComPtr<IDispatch> gauge;
    EXPECT_EQ(factory->CreateInstance(factory.Get(), IDispatch::Iid,
                                      reinterpret_cast<void**>(gauge.Receive())),
              hr::NoAggregation);
    ASSERT_EQ(factory->CreateInstance(nullptr, ids::DispatchIid,
                                      reinterpret_cast<void**>(gauge.Receive())),
              hr::Ok);
    void* events = nullptr;
    EXPECT_EQ(gauge->QueryInterface(ids::EventsIid, &events), hr::NoInterface);
    factory->LockServer(true);
    factory.Reset();
    gauge.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), hr::False); // locked
    ASSERT_EQ(get(&ids::ClassId, &IClassFactory::Iid, reinterpret_cast<void**>(factory.Receive())),
              hr::Ok);
    factory->LockServer(false);
    factory.Reset();
    EXPECT_EQ(Call("DllCanUnloadNow"), hr::Ok);
}

} // namespace
