// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/TargetName.h"

#include "platform/Text.h"

namespace quillory::conversion {

QString LastFourLower(const QString& text) {
    return text.right(4).toLower();
}

QString SwitchExtension(const QString& target, const QString& from, const QString& to) {
    const QString trimmed = platform::TrimSpaces(target);
    if (LastFourLower(trimmed) != from)
        return trimmed;
    return trimmed.left(trimmed.size() - 4) + to;
}

} // namespace quillory::conversion
