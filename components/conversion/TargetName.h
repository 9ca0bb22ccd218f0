// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The target path rules of the main window: the output type follows the chosen file's
// extension, and switching the type swaps ".mp3" and ".wav" at the end of the name.
#pragma once

#include <QString>

namespace quillory::conversion {

// The last four characters in lower case: the extension test used throughout.
QString LastFourLower(const QString& text);
// The trimmed target with a final `from` extension (any case) replaced by `to`; otherwise the
// trimmed target unchanged.
QString SwitchExtension(const QString& target, const QString& from, const QString& to);

} // namespace quillory::conversion
