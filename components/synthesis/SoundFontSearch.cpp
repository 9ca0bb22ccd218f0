// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/synthesis/SoundFontSearch.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <system_error>
#include <vector>

namespace quillory::renderer {

namespace {

bool isSoundFont(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::error_code ec;
    return (ext == ".sf2" || ext == ".sf3") && std::filesystem::is_regular_file(path, ec);
}

// In name order, so the choice does not depend on the order the folder lists its files in.
std::vector<std::filesystem::path> soundFontsIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    if (folder.empty())
        return found;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (isSoundFont(it->path()))
            found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

std::filesystem::path findSoundFont(const std::filesystem::path& programFolder,
                                    const std::filesystem::path& systemFolder) {
    if (auto local = soundFontsIn(programFolder); !local.empty())
        return local.front();
    const std::filesystem::path standard = systemFolder / "default-GM.sf2";
    if (isSoundFont(standard))
        return standard;
    if (auto others = soundFontsIn(systemFolder); !others.empty())
        return others.front();
    return {};
}

} // namespace quillory::renderer
