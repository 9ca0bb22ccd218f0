#include "platform/control/Loader.h"

#include "platform/control/Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace platform::control {

namespace {

QString besideProgram(const QString& fileName) {
    if (fileName.isEmpty() || !QCoreApplication::instance())
        return fileName;
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
    return QFileInfo::exists(path) ? path : fileName;
}

QString howToRegister(const CreateRequest& request) {
    return QStringLiteral("Register its library with the command:\n    %1")
        .arg(RegisterCommand(request.libraryFileName));
}

QString lookupMessage(LookupResult result, const CreateRequest& request) {
    const QString registry = ControlRegistryPath();
    QString what;
    switch (result) {
    case LookupResult::NoRegistry:
        what = QStringLiteral("The control %1 is not registered: there is no control registry "
                              "at %2.")
                   .arg(request.progId, registry);
        break;
    case LookupResult::NotRegistered:
        what =
            QStringLiteral("The control %1 is not registered in %2.").arg(request.progId, registry);
        break;
    case LookupResult::Damaged:
        what = QStringLiteral("The registration of the control %1 in %2 is damaged.")
                   .arg(request.progId, registry);
        break;
    case LookupResult::Found:
        break;
    }
    return what + QLatin1Char('\n') + howToRegister(request);
}

} // namespace

QString RegisterCommand(const QString& libraryFileName) {
    const QString library =
        besideProgram(libraryFileName.isEmpty() ? QStringLiteral("<library>") : libraryFileName);
    return besideProgram(QStringLiteral("regctl")) + QLatin1Char(' ') + library;
}

HResult CreateObject(const CreateRequest& request, const Guid& iid, void** out, QString* message) {
    *out = nullptr;
    ClassRegistration entry;
    const LookupResult found = LookupClass(request.progId, &entry);
    if (found != LookupResult::Found) {
        *message = lookupMessage(found, request);
        return hr::ClassNotRegistered;
    }
    if (request.classId != Guid{} && request.classId != entry.classId) {
        *message = QStringLiteral("The control %1 is registered with the class id %2, not %3.\n%4")
                       .arg(request.progId, entry.classId.ToString(), request.classId.ToString(),
                            howToRegister(request));
        return hr::ClassNotRegistered;
    }
    QLibrary library(entry.libraryPath);
    if (!library.load()) {
        *message = QStringLiteral("The library %1 of the control %2 cannot be loaded: %3\n%4")
                       .arg(entry.libraryPath, request.progId, library.errorString(),
                            howToRegister(request));
        return hr::ClassNotRegistered;
    }
    const auto getClassObject =
        reinterpret_cast<DllGetClassObjectFn>(library.resolve("DllGetClassObject"));
    if (!getClassObject) {
        *message = QStringLiteral("The library %1 registered for the control %2 is not a control "
                                  "library: it has no DllGetClassObject.\n%3")
                       .arg(entry.libraryPath, request.progId, howToRegister(request));
        return hr::ClassNotAvailable;
    }
    ComPtr<IClassFactory> factory;
    HResult r = getClassObject(&entry.classId, &IClassFactory::Iid,
                               reinterpret_cast<void**>(factory.Receive()));
    if (Succeeded(r) && factory)
        r = factory->CreateInstance(nullptr, iid, out);
    if (Failed(r) || !*out) {
        *out = nullptr;
        *message = QStringLiteral("The library %1 could not create the control %2: %3.")
                       .arg(entry.libraryPath, request.progId, ErrorText(Failed(r) ? r : hr::Fail));
        return Failed(r) ? r : hr::Fail;
    }
    return hr::Ok;
}

} // namespace platform::control
