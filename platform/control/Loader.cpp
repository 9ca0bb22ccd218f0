// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "platform/control/Loader.h"

#include "platform/control/Registry.h"
#include "platform/control/TrustedPath.h"

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

QString registriesSearched() {
    QStringList all = QStringList{ControlRegistryPath()} + SystemRegistryPaths();
    const QString last = all.takeLast();
    return all.isEmpty() ? last : all.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QString lookupMessage(const Lookup& found, const CreateRequest& request) {
    QString what;
    switch (found.result) {
    case LookupResult::NoRegistry:
        what = QStringLiteral("The control %1 is not registered: there is no control registry "
                              "at %2.")
                   .arg(request.progId, registriesSearched());
        break;
    case LookupResult::NotRegistered:
        what = QStringLiteral("The control %1 is not registered in %2.")
                   .arg(request.progId, registriesSearched());
        break;
    case LookupResult::Damaged:
        what = QStringLiteral("The registration of the control %1 in %2 is damaged.")
                   .arg(request.progId, found.registry);
        break;
    case LookupResult::Unreadable:
        what = QStringLiteral("The control %1 cannot be looked up: the control registry %2 is "
                              "not used because %3.")
                   .arg(request.progId, found.registry, found.problem);
        break;
    case LookupResult::Found:
        break;
    }
    return what + QLatin1Char('\n') + howToRegister(request);
}

// The library to load for entry, or an empty string with *message saying why none may be.
QString libraryToLoad(const ClassRegistration& entry, const CreateRequest& request,
                      QString* message) {
    const QFileInfo file(entry.libraryPath);
    if (!file.isAbsolute()) {
        // A relative name would be looked for from wherever the program was started.
        *message = QStringLiteral("The registration of the control %1 names the library %2 "
                                  "without its folder.\n%3")
                       .arg(request.progId, entry.libraryPath, howToRegister(request));
        return QString();
    }
    if (const QString why = WhyNotTrusted(entry.libraryPath); !why.isEmpty()) {
        *message = QStringLiteral("The library %1 of the control %2 is not loaded: %3. A control "
                                  "runs as part of this program, with your rights, so its "
                                  "library is loaded only from a folder that no other user "
                                  "can change.\n%4")
                       .arg(entry.libraryPath, request.progId, why, howToRegister(request));
        return QString();
    }
    // The very file that was judged, whatever links led to it.
    const QString canonical = file.canonicalFilePath();
    return canonical.isEmpty() ? entry.libraryPath : canonical;
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
    const Lookup found = FindClass(request.progId, &entry);
    if (found.result != LookupResult::Found) {
        *message = lookupMessage(found, request);
        return hr::ClassNotRegistered;
    }
    if (request.classId != Guid{} && request.classId != entry.classId) {
        *message = QStringLiteral("The control %1 is registered with the class id %2, not %3.\n%4")
                       .arg(request.progId, entry.classId.ToString(), request.classId.ToString(),
                            howToRegister(request));
        return hr::ClassNotRegistered;
    }
    const QString libraryFile = libraryToLoad(entry, request, message);
    if (libraryFile.isEmpty())
        return hr::ClassNotRegistered;
    QLibrary library(libraryFile);
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
