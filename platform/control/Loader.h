// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The host side of the boundary: creating an object of a registered class by its ProgID. The
// library is found through the control registries (the user's, then the system's), loaded only
// from a place no other user can change, and kept for the life of the process (a library is
// never unloaded, so no object or code of it can outlive it).
#pragma once

#include "platform/control/Com.h"

#include <QString>

namespace platform::control {

struct CreateRequest {
    QString progId;
    // The class id the host's stored layout expects; a null Guid accepts what is registered.
    Guid classId;
    // The library file that serves the class, for the registration hint in messages.
    QString libraryFileName;
};

// A new object of the class, as interface iid. On failure *out is null and *message tells the
// user what went wrong, naming the ProgID and the command that registers the library.
HResult CreateObject(const CreateRequest& request, const Guid& iid, void** out, QString* message);

// "regctl <library>", the command that registers a control library, with the paths that exist
// beside the running program.
QString RegisterCommand(const QString& libraryFileName);

} // namespace platform::control
