// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/midi/TagText.h"

#include <array>

namespace quillory::tags {

namespace {

// What Windows-1252 puts at 0x80-0x9F; 0 where it defines nothing (the byte then stays a C1
// control character and is cleaned away like one).
constexpr std::array<char32_t, 32> kWindowsHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool continuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at p (with its code point in cp), or 0.
std::size_t sequenceAt(const unsigned char* p, std::size_t left, char32_t& cp) {
    const unsigned char b = p[0];
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        cp = b & 0x0F;
        low = b == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = b == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        cp = b & 0x07;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF; // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (!continuation(p[i]))
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return length;
}

// Walks a text as code points: UTF-8 when it is valid, otherwise as Windows Latin-1 bytes.
class Decoder {
public:
    Decoder(std::string_view text, bool utf8)
        : p_(reinterpret_cast<const unsigned char*>(text.data()))
        , left_(text.size())
        , utf8_(utf8) {}

    bool next(char32_t& cp) {
        if (left_ == 0)
            return false;
        std::size_t used = 1;
        if (!utf8_) {
            cp = p_[0];
            if (cp >= 0x80 && cp <= 0x9F && kWindowsHigh[cp - 0x80] != 0)
                cp = kWindowsHigh[cp - 0x80];
        } else if ((used = sequenceAt(p_, left_, cp)) == 0) {
            used = 1;
            cp = 0xFFFD;
        }
        p_ += used;
        left_ -= used;
        return true;
    }

private:
    const unsigned char* p_;
    std::size_t left_;
    bool utf8_;
};

bool isControl(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

bool isValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    char32_t cp = 0;
    while (left > 0) {
        const std::size_t used = sequenceAt(p, left, cp);
        if (used == 0)
            return false;
        p += used;
        left -= used;
    }
    return true;
}

std::string cleanTagText(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    Decoder decoder(raw, isValidUtf8(raw));
    std::string out;
    std::size_t chars = 0;
    bool pendingSpace = false;
    char32_t cp = 0;
    for (bool first = true; chars < kMaxTagChars && decoder.next(cp); first = false) {
        if (first && cp == 0xFEFF)
            continue;
        if (isControl(cp) || cp == ' ') {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace) {
            // A space is kept only with a character after it.
            if (chars + 2 > kMaxTagChars)
                break;
            out += ' ';
            ++chars;
            pendingSpace = false;
        }
        appendUtf8(out, cp);
        ++chars;
    }
    return out;
}

bool fitsLatin1(std::string_view utf8) {
    Decoder decoder(utf8, true);
    char32_t cp = 0;
    while (decoder.next(cp))
        if (cp > 0xFF)
            return false;
    return true;
}

std::string toLatin1(std::string_view utf8) {
    Decoder decoder(utf8, true);
    std::string out;
    char32_t cp = 0;
    while (decoder.next(cp))
        out += cp > 0xFF ? '?' : char(cp);
    return out;
}

std::u16string toUtf16(std::string_view utf8) {
    Decoder decoder(utf8, true);
    std::u16string out;
    char32_t cp = 0;
    while (decoder.next(cp)) {
        if (cp < 0x10000) {
            out += char16_t(cp);
        } else {
            cp -= 0x10000;
            out += char16_t(0xD800 | (cp >> 10));
            out += char16_t(0xDC00 | (cp & 0x3FF));
        }
    }
    return out;
}

} // namespace quillory::tags
