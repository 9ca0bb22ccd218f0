// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The four exports of the Ombrel library, its only visible symbols: self-registration in the
// per-user control registry, the class factory of OmbrelGauge, and the unload check.
#include "gauge/GaugeObject.h"
#include "gauge/Resources.h"
#include "platform/control/ModulePath.h"
#include "platform/control/OmbrelIds.h"
#include "platform/control/Registry.h"

#include <QtGlobal>

namespace ids = platform::control::ombrel;
namespace hr = platform::control::hr;
using platform::control::ComObject;
using platform::control::ComPtr;
using platform::control::Guid;
using platform::control::HResult;
using platform::control::IClassFactory;
using platform::control::IUnknown;

namespace {

class GaugeFactory final : public ComObject<GaugeFactory, IClassFactory> {
public:
    HResult CreateInstance(IUnknown* outer, const Guid& iid, void** out) override {
        if (!out)
            return hr::Pointer;
        *out = nullptr;
        if (outer)
            return hr::NoAggregation;
        const auto gauge = ComPtr<gauge::GaugeObject>::Adopt(new gauge::GaugeObject);
        return gauge->QueryInterface(iid, out);
    }
    HResult LockServer(bool lock) override {
        platform::control::ModuleLock(lock);
        return hr::Ok;
    }
};

platform::control::ClassRegistration registration() {
    platform::control::ClassRegistration e;
    e.progId = QLatin1String(ids::ProgId);
    e.classId = ids::ClassId;
    e.className = gauge::MetadataValue(QStringLiteral("Class.Name"));
    e.version = gauge::MetadataValue(QStringLiteral("FileVersion"));
    e.isControl = true;
    e.typeLibId = ids::TypeLibId;
    e.typeLibName = gauge::MetadataValue(QStringLiteral("TypeLib.Name"));
    e.typeLibHelp = gauge::MetadataValue(QStringLiteral("TypeLib.HelpString"));
    e.typeLibVersion = QLatin1String(ids::TypeLibVersion);
    e.typeLibLocale = 0x0409;
    return e;
}

} // namespace

extern "C" {

Q_DECL_EXPORT HResult DllRegisterServer() {
    platform::control::ClassRegistration e = registration();
    e.libraryPath =
        platform::control::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
    if (e.libraryPath.isEmpty())
        return hr::SelfRegClass;
    return platform::control::RegisterClass(e);
}

Q_DECL_EXPORT HResult DllUnregisterServer() {
    return platform::control::UnregisterClass(QLatin1String(ids::ProgId), ids::ClassId,
                                              ids::TypeLibId);
}

Q_DECL_EXPORT HResult DllGetClassObject(const Guid* clsid, const Guid* iid, void** out) {
    if (!clsid || !iid || !out)
        return hr::Pointer;
    *out = nullptr;
    if (*clsid != ids::ClassId)
        return hr::ClassNotAvailable;
    const auto factory = ComPtr<GaugeFactory>::Adopt(new GaugeFactory);
    return factory->QueryInterface(*iid, out);
}

Q_DECL_EXPORT HResult DllCanUnloadNow() {
    return platform::control::ModuleObjectCount() == 0 ? hr::Ok : hr::False;
}

} // extern "C"
