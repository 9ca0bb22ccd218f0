// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/output/RenameJournal.h"

#include "platform/DiskFiles.h"

#include <charconv>

namespace quillory::output {

namespace fs = std::filesystem;

namespace {

// File names hold any byte but NUL, so NUL ends each field.
constexpr char kEnd[] = "end";
constexpr char kMove[] = "move";
constexpr char kReplace[] = "replace";

fs::path absoluteNormal(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

std::string relativeTo(const fs::path& path, const fs::path& base) {
    const fs::path relative = absoluteNormal(path).lexically_relative(absoluteNormal(base));
    return (relative.empty() ? absoluteNormal(path) : relative).string();
}

bool made(const Move& move) {
    return platform::FileNumber(move.to) == move.id && platform::FileNumber(move.from) != move.id;
}

std::error_code makeMove(const Move& move) {
    if (platform::FileNumber(move.from) != move.id)
        return std::make_error_code(std::errc::no_such_file_or_directory);
    if (!move.replace)
        return platform::RenameNoReplace(move.from, move.to);
    std::error_code ec;
    fs::rename(move.from, move.to, ec);
    return ec;
}

bool moveBack(const Move& move) {
    if (platform::FileNumber(move.from) == move.id)
        return true;
    return platform::FileNumber(move.to) == move.id &&
           !platform::RenameNoReplace(move.to, move.from);
}

} // namespace

std::string encodeJournal(const Journal& journal, const fs::path& base) {
    std::string bytes;
    const auto field = [&bytes](const std::string& text) {
        bytes += text;
        bytes += '\0';
    };
    for (const Move& move : journal) {
        field(move.replace ? kReplace : kMove);
        field(relativeTo(move.from, base));
        field(relativeTo(move.to, base));
        field(std::to_string(move.id));
    }
    field(kEnd);
    return bytes;
}

std::optional<Journal> decodeJournal(std::string_view bytes, const fs::path& base) {
    std::vector<std::string_view> fields;
    for (std::size_t end; (end = bytes.find('\0')) != std::string_view::npos;) {
        fields.push_back(bytes.substr(0, end));
        bytes.remove_prefix(end + 1);
    }
    Journal journal;
    for (std::size_t i = 0; i < fields.size(); i += 4) {
        if (fields[i] == kEnd && i + 1 == fields.size())
            return journal;
        if ((fields[i] != kMove && fields[i] != kReplace) || i + 4 > fields.size())
            return std::nullopt;
        Move move{base / fs::path(fields[i + 1]), base / fs::path(fields[i + 2]),
                  fields[i] == kReplace};
        const std::string_view id = fields[i + 3];
        if (std::from_chars(id.data(), id.data() + id.size(), move.id).ptr != id.data() + id.size())
            return std::nullopt;
        journal.push_back(std::move(move));
    }
    return std::nullopt;
}

Settled settleJournal(const Journal& journal) {
    Settled settled;
    std::size_t n = 0;
    for (; n < journal.size(); ++n)
        if (!made(journal[n]) && (settled.error = makeMove(journal[n])))
            break;
    if (!settled.error)
        return settled;
    while (n-- > 0)
        settled.undone = moveBack(journal[n]) && settled.undone;
    return settled;
}

} // namespace quillory::output
