// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/CodeFile.h"

#include <link.h>

#include <cstdint>
#include <system_error>

namespace platform {

namespace {

struct Search {
    std::uintptr_t address = 0;
    bool found = false;
    bool program = false;
    std::filesystem::path file;
};

// The loader's list of loaded objects, each with its segments: the one whose loaded segment
// holds the address. The program comes first, with an empty name.
int visit(dl_phdr_info* info, std::size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD)
            continue;
        const std::uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        if (search->address < begin || search->address >= begin + segment.p_memsz)
            continue;
        search->found = true;
        search->program = info->dlpi_name == nullptr || info->dlpi_name[0] == '\0';
        if (!search->program)
            search->file = info->dlpi_name;
        return 1;
    }
    return 0;
}

} // namespace

std::filesystem::path CodeFileOf(const void* address) {
    Search search;
    search.address = reinterpret_cast<std::uintptr_t>(address);
    dl_iterate_phdr(visit, &search);
    if (!search.found)
        return {};
    std::error_code error;
    // The loader does not name the program itself; the kernel does.
    const std::filesystem::path file = search.program
                                           ? std::filesystem::read_symlink("/proc/self/exe", error)
                                           : std::filesystem::absolute(search.file, error);
    return error ? std::filesystem::path() : file;
}

} // namespace platform
