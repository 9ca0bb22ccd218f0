// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/ThreadName.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace platform {

void NameThisThread(const char* name) {
    // Linux refuses a name longer than 15 bytes outright instead of shortening it.
    const std::string kept(name, std::min<std::size_t>(std::strlen(name), 15));
    pthread_setname_np(pthread_self(), kept.c_str());
}

} // namespace platform
