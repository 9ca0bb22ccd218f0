// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/MemoryFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

int MemoryFile(const char* name) {
#ifdef MFD_CLOEXEC
    if (const int fd = memfd_create(name, MFD_CLOEXEC); fd >= 0)
        return fd;
#endif
    const char* folder = std::getenv("TMPDIR");
    return ::open(folder && *folder ? folder : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

} // namespace platform
