// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// INI files handled as raw lines, so that bytes we do not touch (comments, other sections,
// text in another code page) are written back exactly as they were read.
#include "platform/Profile.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <vector>

namespace platform {

#ifdef _WIN32

int GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                            QString& out, int size, const QString& filePath) {
    std::vector<wchar_t> buffer(size > 0 ? size : 1);
    const DWORD n = ::GetPrivateProfileStringW(
        reinterpret_cast<LPCWSTR>(section.utf16()), reinterpret_cast<LPCWSTR>(key.utf16()),
        reinterpret_cast<LPCWSTR>(defaultValue.utf16()), buffer.data(), DWORD(buffer.size()),
        reinterpret_cast<LPCWSTR>(filePath.utf16()));
    out = QString::fromWCharArray(buffer.data(), int(n));
    return int(n);
}

int WritePrivateProfileString(const QString& section, const std::optional<QString>& key,
                              const std::optional<QString>& value, const QString& filePath) {
    return ::WritePrivateProfileStringW(reinterpret_cast<LPCWSTR>(section.utf16()),
                                        key ? reinterpret_cast<LPCWSTR>(key->utf16()) : nullptr,
                                        value ? reinterpret_cast<LPCWSTR>(value->utf16()) : nullptr,
                                        reinterpret_cast<LPCWSTR>(filePath.utf16()));
}

#else

namespace {

// Larger files are not settings files; refusing them keeps start-up quick and a write from
// truncating something we could not read whole.
constexpr qint64 MaxProfileBytes = 64 * 1024 * 1024;
const QByteArray Utf8Bom("\xEF\xBB\xBF");

struct ProfileText {
    bool hasBom = false;
    bool crlf = false;
    std::vector<QByteArray> lines; // without line ends
};

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QString name;
    QString value;
};

QString decode(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

ParsedLine parseLine(const QByteArray& raw) {
    const QByteArray line = raw.trimmed();
    ParsedLine parsed;
    if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
        return parsed;
    if (line.startsWith('[')) {
        const qsizetype close = line.indexOf(']');
        if (close > 0) {
            parsed.kind = LineKind::Section;
            parsed.name = decode(line.mid(1, close - 1)).trimmed();
        }
        return parsed;
    }
    const qsizetype eq = line.indexOf('=');
    if (eq > 0) {
        parsed.kind = LineKind::Key;
        parsed.name = decode(line.left(eq)).trimmed();
        parsed.value = decode(line.mid(eq + 1)).trimmed();
    }
    return parsed;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Reads the file into lines. A missing file gives an empty text; an unreadable or oversized
// one gives nothing.
std::optional<ProfileText> readProfile(const QString& path) {
    ProfileText text;
    QFile file(path);
    if (!file.exists())
        return text;
    if (QFileInfo(path).size() > MaxProfileBytes || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.read(MaxProfileBytes + 1);
    if (bytes.size() > MaxProfileBytes)
        return std::nullopt;
    if (bytes.startsWith(Utf8Bom)) {
        text.hasBom = true;
        bytes.remove(0, Utf8Bom.size());
    }
    text.crlf = bytes.contains("\r\n");
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        text.lines.push_back(line);
    }
    // split() leaves one empty piece after a final line end
    if (!text.lines.empty() && text.lines.back().isEmpty())
        text.lines.pop_back();
    return text;
}

bool writeProfile(const QString& path, const ProfileText& text) {
    QByteArray bytes = text.hasBom ? Utf8Bom : QByteArray();
    const QByteArray end = text.crlf ? "\r\n" : "\n";
    for (const QByteArray& line : text.lines)
        bytes += line + end;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Index range of a section's body: the lines after its header up to the next header.
struct SectionRange {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionRange> findSection(const ProfileText& text, const QString& section,
                                        std::size_t from = 0) {
    for (std::size_t i = from; i < text.lines.size(); ++i) {
        const ParsedLine parsed = parseLine(text.lines[i]);
        if (parsed.kind != LineKind::Section || !sameName(parsed.name, section))
            continue;
        std::size_t end = i + 1;
        while (end < text.lines.size() && parseLine(text.lines[end]).kind != LineKind::Section)
            ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> findKey(const ProfileText& text, SectionRange range,
                                   const QString& key) {
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        const ParsedLine parsed = parseLine(text.lines[i]);
        if (parsed.kind == LineKind::Key && sameName(parsed.name, key))
            return i;
    }
    return std::nullopt;
}

QByteArray keyLine(const QString& key, const QString& value) {
    return key.toUtf8() + '=' + value.toUtf8();
}

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// Names and values that would read back as other lines or other names are refused rather
// than written: a value with a line break could plant keys of its own.
bool writable(const QString& section, const std::optional<QString>& key,
              const std::optional<QString>& value) {
    if (section.trimmed().isEmpty() || hasLineBreak(section) || section.contains(QLatin1Char(']')))
        return false;
    if (key && (key->trimmed().isEmpty() || hasLineBreak(*key) || key->contains(QLatin1Char('=')) ||
                key->trimmed().startsWith(QLatin1Char('[')) ||
                key->trimmed().startsWith(QLatin1Char(';')) ||
                key->trimmed().startsWith(QLatin1Char('#'))))
        return false;
    return !(value && hasLineBreak(*value));
}

void setValue(ProfileText& text, const QString& section, const QString& key, const QString& value) {
    const auto range = findSection(text, section);
    if (!range) {
        text.lines.push_back('[' + section.toUtf8() + ']');
        text.lines.push_back(keyLine(key, value));
        return;
    }
    if (const auto at = findKey(text, *range, key)) {
        text.lines[*at] = keyLine(key, value);
        return;
    }
    // After the section's last non-blank line, so blank separators stay before the next one.
    std::size_t insertAt = range->end;
    while (insertAt > range->header + 1 && text.lines[insertAt - 1].trimmed().isEmpty())
        --insertAt;
    text.lines.insert(text.lines.begin() + std::ptrdiff_t(insertAt), keyLine(key, value));
}

// Every occurrence goes, so that a removed name reads as missing afterwards.
void removeKey(ProfileText& text, const QString& section, const QString& key) {
    const auto range = findSection(text, section);
    if (!range)
        return;
    std::size_t end = range->end;
    for (std::size_t i = range->header + 1; i < end;) {
        const ParsedLine parsed = parseLine(text.lines[i]);
        if (parsed.kind == LineKind::Key && sameName(parsed.name, key)) {
            text.lines.erase(text.lines.begin() + std::ptrdiff_t(i));
            --end;
        } else {
            ++i;
        }
    }
}

void removeSection(ProfileText& text, const QString& section) {
    while (const auto range = findSection(text, section))
        text.lines.erase(text.lines.begin() + std::ptrdiff_t(range->header),
                         text.lines.begin() + std::ptrdiff_t(range->end));
}

} // namespace

int GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                            QString& out, int size, const QString& filePath) {
    QString value = defaultValue;
    if (const auto text = readProfile(filePath)) {
        if (const auto range = findSection(*text, section)) {
            if (const auto at = findKey(*text, *range, key))
                value = parseLine(text->lines[*at]).value;
        }
    }
    const int room = size > 0 ? size - 1 : 0;
    out = value.left(room);
    return int(out.size());
}

int WritePrivateProfileString(const QString& section, const std::optional<QString>& key,
                              const std::optional<QString>& value, const QString& filePath) {
    if (!writable(section, key, value))
        return 0;
    auto text = readProfile(filePath);
    if (!text)
        return 0;
    if (!key)
        removeSection(*text, section);
    else if (!value)
        removeKey(*text, section, *key);
    else
        setValue(*text, section, *key, *value);
    return writeProfile(filePath, *text) ? 1 : 0;
}

#endif

} // namespace platform
