// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/shared/ConversionState.h"

QString& TempWavPath() {
    static QString path;
    return path;
}

QString& TempMp3Path() {
    static QString path;
    return path;
}

bool& Mp3ViaTemp() {
    static bool viaTemp = false;
    return viaTemp;
}
