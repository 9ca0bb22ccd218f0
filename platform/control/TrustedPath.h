// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Whether a file may be loaded as code into this process. A control library runs in the host's
// own process with the user's rights, so it is loaded only from where nobody but the user and
// root can change it: loading it from a folder another user can write would run that user's
// code as us. The same test guards the registries that name the libraries.
#pragma once

#include <QString>

namespace platform::control {

// Empty when the file at path (absolute, symbolic links allowed) and every folder above it can
// be changed only by root and the current user; otherwise why not, as a sentence to show. A
// shared folder with the sticky bit (such as /tmp) is accepted above the file, never as the
// file's own folder, where another user could have put the file itself. A missing file is not
// judged here: the empty answer lets the caller report it as missing.
QString WhyNotTrusted(const QString& path);

} // namespace platform::control
