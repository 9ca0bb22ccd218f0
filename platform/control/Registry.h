// The per-user control registry: a small INI file mapping a ProgID to a class id and a class id
// to the library that serves it, with the type library it carries. It belongs to the platform,
// not to any one control; libraries write their entries from DllRegisterServer and remove them
// from DllUnregisterServer, hosts only read it. It lives in <data home>/controls/registry.ini,
// the data home being $XDG_DATA_HOME or ~/.local/share, read afresh on every call so tests can
// point it elsewhere.
#pragma once

#include "platform/control/Com.h"

#include <QString>

namespace platform::control {

struct ClassRegistration {
    QString progId;
    Guid classId;
    QString className;
    QString libraryPath;
    QString version;
    bool isControl = true;
    Guid typeLibId;
    QString typeLibName;
    QString typeLibHelp;
    QString typeLibVersion;
    int typeLibLocale = 0;
};

QString ControlRegistryPath();

// Writes or replaces the entries of one class; RegistryWrite when the file cannot be written.
HResult RegisterClass(const ClassRegistration& entry);
// Removes the entries of one class; a registry without them is left as it is.
HResult UnregisterClass(const QString& progId, const Guid& classId, const Guid& typeLibId);

enum class LookupResult { Found, NoRegistry, NotRegistered, Damaged };

// Reads what is registered for progId. Damaged: the ProgID names no readable class id, or the
// class has no library path.
LookupResult LookupClass(const QString& progId, ClassRegistration* out);

} // namespace platform::control
