// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// libsndfile gives every Ogg stream it writes (Vorbis, Opus) a serial number drawn from the clock,
// so that one song written twice makes two files that differ in every page. A file holds one
// stream, where the serial number only has to be the same on every page; so it is set to one of
// our own afterwards, page by page with each page's checksum, and the same song gives the same
// bytes. Needs no library: an Ogg page is a 27-byte header, a segment table and the data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quillory::output {

// The serial number every Ogg file of ours carries ("Qlry").
inline constexpr std::uint32_t kOggSerial = 0x79726C51;

// Gives every page of the Ogg file the serial number, with its checksum; an empty string, or why
// the file could not be read or written (it is then as it was, or no valid Ogg file to begin with).
std::string setOggSerial(const std::filesystem::path& file, std::uint32_t serial = kOggSerial);

} // namespace quillory::output
