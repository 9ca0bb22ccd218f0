// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The file a loaded module (program or shared library) was loaded from.
#pragma once

#include <QString>

namespace platform::control {

// The absolute path of the module that holds address, or an empty string.
QString ModulePathOf(const void* address);

} // namespace platform::control
