// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Keeping a finished MP3 that could not be copied to its target: the temporary file is moved
// from this instance's folder into the private work folder itself, under the target's own name,
// out of reach of DeleteTempFiles and of the removal of the instance's folder when it ends, so
// the user can fetch it from there.
#pragma once

#include <QString>

namespace quillory::conversion {

// The path the encoded file now has, or an empty string when it could not be renamed.
QString KeepEncodedFile(const QString& encodedTemp, const QString& target);

// What the user is told when the finished MP3 could not be copied to target; kept is where
// KeepEncodedFile put it, or empty when it could not be kept either.
QString UncopiedResultMessage(const QString& target, const QString& kept);

} // namespace quillory::conversion
