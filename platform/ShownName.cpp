// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/ShownName.h"

#include <cstdint>
#include <cstdio>

namespace platform {

namespace {

// The length of the character at text[at] when it is printable UTF-8, else 0: C0 and C1 controls,
// DEL, the line and paragraph separators and the marks that reorder a line's text (bidirectional
// embeddings, overrides and isolates) are not, and neither is a malformed sequence.
std::size_t printableAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return std::uint8_t(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x20 || lead == 0x7F)
        return 0;
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool control = code >= 0x80 && code <= 0x9F;
    const bool separator = code == 0x2028 || code == 0x2029;
    const bool reorders = (code >= 0x202A && code <= 0x202E) ||
                          (code >= 0x2066 && code <= 0x2069) || code == 0x200E || code == 0x200F ||
                          code == 0x061C;
    if (overlong || surrogate || code > 0x10FFFF || control || separator || reorders)
        return 0;
    return length;
}

bool printable(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = printableAt(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

// One byte as the escape that both a C string and a shell's $'...' read back.
std::string escaped(std::uint8_t byte) {
    switch (byte) {
    case '\a':
        return "\\a";
    case '\b':
        return "\\b";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\v':
        return "\\v";
    case '\f':
        return "\\f";
    case '\r':
        return "\\r";
    default: {
        char octal[8];
        std::snprintf(octal, sizeof octal, "\\%03o", unsigned(byte));
        return octal;
    }
    }
}

} // namespace

std::string ShownName(const std::filesystem::path& name) {
    const std::string text = name.string();
    if (printable(text))
        return text;
    // Printable runs go in '...', the rest in $'...', side by side: the shell joins them.
    std::string shown;
    bool inPlain = false, inEscapes = false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = printableAt(text, at);
        if (length > 0) {
            if (inEscapes)
                shown += '\'';
            if (!inPlain)
                shown += '\'';
            inEscapes = false;
            inPlain = true;
            for (std::size_t i = at; i < at + length; ++i)
                shown += text[i] == '\'' ? std::string("'\\''") : std::string(1, text[i]);
            at += length;
        } else {
            if (inPlain)
                shown += '\'';
            if (!inEscapes)
                shown += "$'";
            inPlain = false;
            inEscapes = true;
            shown += escaped(std::uint8_t(text[at]));
            ++at;
        }
    }
    if (inPlain || inEscapes)
        shown += '\'';
    return shown;
}

std::string Quoted(const std::filesystem::path& name) {
    const std::string text = name.string();
    return printable(text) ? "\"" + text + "\"" : ShownName(name);
}

std::string TerminalSafe(std::string_view text) {
    std::string safe;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = printableAt(text, at);
        if (length > 0) {
            safe.append(text.substr(at, length));
            at += length;
        } else {
            safe += escaped(std::uint8_t(text[at]));
            ++at;
        }
    }
    return safe;
}

} // namespace platform
