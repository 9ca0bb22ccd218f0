// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The values through which the conversion run and the MP3 encoding stage hand over their
// files: the temporary WAV, the fallback MP3, and whether that fallback must be copied.
#pragma once

#include <QString>

QString& TempWavPath();
QString& TempMp3Path();
bool& Mp3ViaTemp();
