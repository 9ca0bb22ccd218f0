// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// File names and other text from outside, made safe to show on a terminal. A name may hold any
// byte but '/' and NUL: an escape sequence in it could retitle or recolour the user's terminal,
// and bytes that are not UTF-8 print as garbage. Names that need it are quoted as GNU ls quotes
// them for a terminal (its shell-escape style), which a user can paste back into a shell:
// 'a'$'\033''[31m'; every other name is shown as it is.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// The name as it is when every character is printable UTF-8, otherwise shell-escape quoted.
std::string ShownName(const std::filesystem::path& name);
// "name" in double quotes when printable, otherwise as ShownName quotes it.
std::string Quoted(const std::filesystem::path& name);
// Text for a terminal line: control characters and bytes that are not UTF-8 become \ooo escapes
// (\n, \t and the like as in C), everything else stays.
std::string TerminalSafe(std::string_view text);

} // namespace platform
