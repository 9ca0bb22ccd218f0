// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/OutputPolicy.h"
#include "platform/ShownName.h"

namespace convert {

namespace fs = std::filesystem;

std::string outputRefusal(const fs::path& target, bool force) {
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    if (fs::is_directory(status))
        return platform::Quoted(target) + " is a folder";
    // Renaming over a device or a pipe (/dev/null, say) would replace it with a plain file.
    if (fs::exists(status) && !fs::is_regular_file(status))
        return platform::Quoted(target) + " is not an ordinary file";
    // A link to nothing counts as a file: writing through it is for --force to allow.
    if ((fs::exists(status) || fs::is_symlink(fs::symlink_status(target, ec))) && !force)
        return platform::Quoted(target) + " exists (--force replaces it)";
    return {};
}

quillory::output::OutputFile outputFor(const fs::path& target, bool force) {
    using quillory::output::Existing;
    return {target, force ? Existing::Replace : Existing::Keep};
}

} // namespace convert
