// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "platform/control/ModulePath.h"

#include <QFileInfo>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace platform::control {

QString ModulePathOf(const void* address) {
    QString path;
#ifdef _WIN32
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(address), &module)) {
        wchar_t buffer[32768];
        const DWORD n = GetModuleFileNameW(module, buffer, DWORD(std::size(buffer)));
        path = QString::fromWCharArray(buffer, int(n));
    }
#else
    Dl_info info{};
    if (dladdr(address, &info) && info.dli_fname)
        path = QFile::decodeName(info.dli_fname);
#endif
    if (path.isEmpty())
        return path;
    const QFileInfo file(path);
    const QString canonical = file.canonicalFilePath();
    return canonical.isEmpty() ? file.absoluteFilePath() : canonical;
}

} // namespace platform::control
