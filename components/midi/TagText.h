// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The text that goes into a file's tags (an MP3's ID3v2 frames, a WAV's LIST/INFO strings): the
// song's title, its copyright notice and the program that made it. Such text comes from places
// we do not control (a MIDI file's meta events, a user's WAV), in no declared encoding and of any
// length, so it passes through cleanTagText before it reaches a tag. Both the renderer and the
// encoder need this, and it needs nothing itself: it is a library of its own that either links.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillory::tags {

// Longer texts are cut: no player shows more, and a tag should not grow with its input.
inline constexpr std::size_t kMaxTagChars = 250;
// What our files name as the software that made them.
inline constexpr std::string_view kSoftware = "Quillory 2.0";

struct TextTags {
    std::string title{};     // UTF-8, cleaned
    std::string copyright{}; // UTF-8, cleaned
    std::string software{};  // UTF-8, cleaned

    bool empty() const { return title.empty() && copyright.empty() && software.empty(); }
};

// Raw bytes of unknown encoding to clean UTF-8 text for a tag:
// - read as UTF-8 when the bytes are valid UTF-8 (strictly: no overlong forms, no surrogates),
//   otherwise byte by byte as Latin-1, where 0x80-0x9F are taken as the Windows code page's
//   punctuation (’ “ ” – — € ...) that files written on Windows mean by them;
// - the text ends at the first NUL, which is how fixed-size name fields are padded;
// - every other control character (C0, DEL, C1, line and paragraph separators) becomes a space,
//   since a line break or tab inside a name separates words; runs of spaces become one space and
//   the ends are trimmed; a leading byte order mark goes;
// - at most kMaxTagChars characters (code points) remain.
std::string cleanTagText(std::string_view raw);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// True when every character of a (valid) UTF-8 text is within Latin-1 (U+0000 to U+00FF).
bool fitsLatin1(std::string_view utf8);
// A valid UTF-8 text as Latin-1 bytes; characters outside Latin-1 become '?'.
std::string toLatin1(std::string_view utf8);
// A valid UTF-8 text as UTF-16 code units (surrogate pairs beyond the BMP), without BOM.
std::u16string toUtf16(std::string_view utf8);

} // namespace quillory::tags
