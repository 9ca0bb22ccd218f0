// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// An anonymous file that lives in memory and goes with its last descriptor: a converted song
// handed to a caller as an array is written there rather than to a disk. Without Qt.
#pragma once

namespace platform {

// A new, empty, seekable file open for reading and writing (closed on exec), or -1 with errno
// set. Where the system has no memory files, an unnamed file in the temporary folder.
int MemoryFile(const char* name);

} // namespace platform
