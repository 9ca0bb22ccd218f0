// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Renames that belong together, such as a song's stem folder and the song itself, which must
// all be made or none. The list is written down (in the claim on the target, Claim.h) and flushed
// before the first is made, so that when its process is killed between two of them, whoever
// settles the claim completes them all or, when that cannot be done, undoes those made. Each move
// names what it moves by its file number too, so that which moves were made is read from the
// folder itself, at any moment between two of them. Only the last move may replace a file: what
// it replaces cannot be brought back, so once it is made the others are all made too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quillory::output {

struct Move {
    std::filesystem::path from, to;
    // Whether it replaces a file at `to`; otherwise it is not made while anything is there.
    bool replace = false;
    std::uint64_t id = 0; // the file number of what is moved
};
using Journal = std::vector<Move>;

// The journal as bytes, its paths relative to base (the folder it is kept in), ending in a mark
// that says it was written whole.
std::string encodeJournal(const Journal& journal, const std::filesystem::path& base);
// A journal from encodeJournal; nothing when it lacks its end, cut short by a kill, when no move
// was made yet.
std::optional<Journal> decodeJournal(std::string_view bytes, const std::filesystem::path& base);

struct Settled {
    std::error_code error; // why a move could not be made; none when all are
    bool undone = true;    // with an error: whether everything went back where it was
};
// Makes the moves not made yet, in order; when one cannot be made (what it moves is gone, or
// something is in the way), moves those made back, the last first.
Settled settleJournal(const Journal& journal);

} // namespace quillory::output
