// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The file that holds a piece of our code: the program itself, or the shared object our code was
// linked into (the Python module, loaded by /usr/bin/python3). What the engines load at run time
// (the effect plugin) and the program folder they read lie beside that file, so they are found
// from where the code is, not from whichever program happens to run it. Without Qt.
#pragma once

#include <filesystem>

namespace platform {

// The absolute path of the program or shared object that holds `address` (any function or
// object of ours); empty when the loader does not know it.
std::filesystem::path CodeFileOf(const void* address);

} // namespace platform
