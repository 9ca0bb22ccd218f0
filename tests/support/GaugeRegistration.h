// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Registers the freshly built Ombrel library in the control registry the test redirected to,
// so windows under test create their real progress bars.
#pragma once

#include <QLibrary>
#include <QString>

#ifndef OMBREL_LIBRARY
#error "OMBREL_LIBRARY must name the built Ombrel library"
#endif

inline bool RegisterBuiltGauge() {
    QLibrary library(QStringLiteral(OMBREL_LIBRARY));
    using Entry = int (*)();
    const auto registerServer = reinterpret_cast<Entry>(library.resolve("DllRegisterServer"));
    return registerServer && registerServer() == 0;
}
