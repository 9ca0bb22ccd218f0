// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Which targets the batch converter writes: an existing file (or a symbolic link, which is
// written through) only with --force, and never a folder, a device or a pipe, which the final
// rename into place would replace.
#pragma once

#include "components/output/OutputFile.h"

#include <filesystem>
#include <string>

namespace convert {

// Empty when the target may be written, otherwise why not.
std::string outputRefusal(const std::filesystem::path& target, bool force);

// The output for a target that outputRefusal accepted; without force, a file that appears at the
// target while the conversion runs is left alone too.
quillory::output::OutputFile outputFor(const std::filesystem::path& target, bool force);

} // namespace convert
