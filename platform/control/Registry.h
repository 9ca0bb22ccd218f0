// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The control registry: small INI files mapping a ProgID to a class id and a class id to the
// library that serves it, with the type library it carries. It belongs to the platform, not to
// any one control; libraries write their entries from DllRegisterServer and remove them from
// DllUnregisterServer, hosts only read it.
//
// There are two kinds, read in this order, the first that names a ProgID deciding:
// - the per-user registry, <data home>/controls/registry.ini, the data home being
//   $XDG_DATA_HOME or ~/.local/share;
// - the system registries, <folder>/controls/registry.ini for each folder of $XDG_DATA_DIRS
//   (/usr/local/share and /usr/share when unset), where an installed package registers its
//   controls for every user.
// Every location is worked out afresh on each call, so tests can point them elsewhere.
#pragma once

#include "platform/control/Com.h"

#include <QString>
#include <QStringList>

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

// The per-user registry.
QString ControlRegistryPath();
// The system registries, in the order they are read.
QStringList SystemRegistryPaths();
// The system registry of this installation (in the data folder it was built for), the one that
// "regctl --system" writes.
QString InstalledSystemRegistryPath();

// The registry that RegisterClass and UnregisterClass write: the per-user one unless
// $CONTROL_REGISTRY_FILE names another. Each control library carries its own copy of this code,
// so a choice made by the registering tool has to reach it through the environment.
QString RegistrationTargetPath();
inline constexpr char RegistrationTargetVariable[] = "CONTROL_REGISTRY_FILE";

// Writes or replaces the entries of one class; RegistryWrite when the file cannot be written.
HResult RegisterClass(const ClassRegistration& entry);
// Removes the entries of one class; a registry without them is left as it is.
HResult UnregisterClass(const QString& progId, const Guid& classId, const Guid& typeLibId);

// Unreadable: a registry exists but cannot be used (not readable, not a text file, too large,
// or in a place other users can change). Damaged: the ProgID names no readable class id, or
// the class has no library path.
enum class LookupResult { Found, NoRegistry, NotRegistered, Damaged, Unreadable };

struct Lookup {
    LookupResult result = LookupResult::NoRegistry;
    // Found and Damaged: the registry holding the entry. Unreadable: the registry that could
    // not be used. Otherwise empty.
    QString registry;
    // Unreadable: why, as a phrase to show.
    QString problem;
};

// Finds what is registered for progId, the per-user registry first, then the system ones. A
// registry that cannot be used is passed over; it is reported only when no other registry
// names the ProgID.
Lookup FindClass(const QString& progId, ClassRegistration* out);
inline LookupResult LookupClass(const QString& progId, ClassRegistration* out) {
    return FindClass(progId, out).result;
}

} // namespace platform::control
