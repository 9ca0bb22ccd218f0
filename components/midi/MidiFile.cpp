// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/midi/MidiFile.h"

#include "components/midi/TagText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace quillory::renderer {

namespace {

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

std::uint16_t be16(const std::uint8_t* p) {
    return std::uint16_t((p[0] << 8) | p[1]);
}

std::string hexByte(std::uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

std::string chunkName(const std::uint8_t* p) {
    std::string name;
    for (int i = 0; i < 4; ++i)
        name += (p[i] >= 0x20 && p[i] < 0x7F) ? char(p[i]) : '?';
    return name;
}

// Text, Copyright Notice, Sequence/Track Name, Lyric, Marker and the other text meta events.
bool isTextMeta(std::uint8_t type) {
    return type >= 0x01 && type <= 0x0F;
}

int dataBytes(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

} // namespace

MidiFile MidiFile::read(const std::filesystem::path& path) {
    const std::string name = path.string();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw MidiError(name, "is a folder, not a MIDI file");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw MidiError(name, std::string("cannot be opened (") + std::strerror(errno) + ")");
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        throw MidiError(name, "cannot be read");
    if (std::uintmax_t(size) > kMaxFileBytes)
        throw MidiError(name,
                        "is too large to be a MIDI file (" + std::to_string(size >> 20) + " MiB)");
    in.seekg(0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!bytes.empty() && !in.read(reinterpret_cast<char*>(bytes.data()), size))
        throw MidiError(name, "cannot be read");
    return parse(std::move(bytes), name);
}

MidiFile MidiFile::parse(std::vector<std::uint8_t> bytes, std::string name) {
    MidiFile file;
    file.name_ = std::move(name);
    file.bytes_ = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    if (file.bytes_->empty())
        throw MidiError(file.name_, "the file is empty");
    file.unwrapRiff();
    file.readHeader();
    file.scan();
    return file;
}

void MidiFile::fail(std::size_t offset, const std::string& what) const {
    throw MidiError(name_, "byte " + std::to_string(offset) + ": " + what);
}

// A RIFF MIDI file ("RMID") carries a Standard MIDI File in its "data" chunk; other chunks
// (INFO lists, display data) are passed over. Offsets in messages stay those of the whole file.
void MidiFile::unwrapRiff() {
    const auto& b = *bytes_;
    smf_ = {0, b.size()};
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0)
        return;
    if (std::memcmp(&b[8], "RMID", 4) != 0)
        throw MidiError(name_, "not a MIDI file (a RIFF file of type '" + chunkName(&b[8]) +
                                   "', not RMID)");
    // Writers that get the form's size wrong are common; the chunks themselves must fit.
    const std::size_t formEnd = std::min<std::size_t>(b.size(), 8 + std::size_t(le32(&b[4])));
    std::size_t pos = 12;
    while (pos <= formEnd && formEnd - pos >= 8) {
        const std::uint32_t length = le32(&b[pos + 4]);
        if (length > formEnd - pos - 8)
            fail(pos + 4, "chunk '" + chunkName(&b[pos]) + "' of " + std::to_string(length) +
                              " bytes runs past the end of the RIFF form");
        if (std::memcmp(&b[pos], "data", 4) == 0) {
            smf_ = {pos + 8, pos + 8 + length};
            wrapped_ = true;
            return;
        }
        // Chunks of odd length are followed by a pad byte.
        pos += 8 + std::size_t(length) + (length & 1);
    }
    throw MidiError(name_, "an RMID file without a 'data' chunk of MIDI data");
}

void MidiFile::readHeader() {
    const auto& b = *bytes_;
    const std::size_t base = smf_.begin;
    const std::size_t end = smf_.end;
    if (end == base)
        throw MidiError(name_, wrapped_ ? "the RMID 'data' chunk is empty" : "the file is empty");
    if (end - base < 8 || std::memcmp(&b[base], "MThd", 4) != 0)
        throw MidiError(
            name_, wrapped_ ? "not a MIDI file (its RMID data does not start with an MThd header)"
                            : "not a MIDI file (it does not start with an MThd header)");
    const std::uint32_t headerLength = be32(&b[base + 4]);
    if (headerLength < 6)
        fail(base + 4,
             "the MThd header length is " + std::to_string(headerLength) + ", it must be 6");
    if (headerLength > end - base - 8)
        fail(base + 4, "the MThd header length " + std::to_string(headerLength) +
                           " runs past the end of the file");
    format_ = be16(&b[base + 8]);
    declaredTracks_ = be16(&b[base + 10]);
    const std::uint16_t division = be16(&b[base + 12]);
    if (format_ > 2)
        fail(base + 8, "format " + std::to_string(format_) +
                           " is not a Standard MIDI File format (0, 1 or 2)");
    if (declaredTracks_ == 0)
        fail(base + 10, "the header declares no tracks");
    if (division == 0)
        fail(base + 12, "the time division is 0");
    if (division & 0x8000) {
        smpte_ = true;
        const int frames = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
        const std::uint64_t ticksPerFrame = division & 0xFF;
        if (frames != 24 && frames != 25 && frames != 29 && frames != 30)
            fail(base + 12, "SMPTE time division with " + std::to_string(frames) +
                                " frames per second (24, 25, 29 or 30 expected)");
        if (ticksPerFrame == 0)
            fail(base + 12, "SMPTE time division with 0 ticks per frame");
        // 29 stands for 30 drop-frame: 30000/1001 frames per second.
        unitsPerSecond_ = (frames == 29 ? 30000 : std::uint64_t(frames)) * ticksPerFrame;
        startUnitsPerTick_ = frames == 29 ? 1001 : 1;
    } else {
        unitsPerSecond_ = std::uint64_t(division) * 1000000;
        startUnitsPerTick_ = 500000; // microseconds per quarter note: 120 bpm
    }
    readChunks(base + 8 + headerLength);
}

void MidiFile::readChunks(std::size_t pos) {
    const auto& b = *bytes_;
    const std::size_t end = smf_.end;
    while (tracks_.size() < std::size_t(declaredTracks_)) {
        if (end - pos < 8) {
            if (pos < end)
                fail(pos, "a chunk header is cut short (the header declares " +
                              std::to_string(declaredTracks_) + " tracks, " +
                              std::to_string(tracks_.size()) + " found)");
            throw MidiError(name_, "the header declares " + std::to_string(declaredTracks_) +
                                       (declaredTracks_ == 1 ? " track" : " tracks") +
                                       " but the file holds " + std::to_string(tracks_.size()));
        }
        const std::uint32_t length = be32(&b[pos + 4]);
        const bool isTrack = std::memcmp(&b[pos], "MTrk", 4) == 0;
        if (length > end - pos - 8) {
            const std::string what = "chunk '" + chunkName(&b[pos]) + "' of " +
                                     std::to_string(length) +
                                     " bytes runs past the end of the file";
            if (isTrack)
                throw MidiError(name_, "track " + std::to_string(tracks_.size() + 1) + ", byte " +
                                           std::to_string(pos + 4) + ": " + what);
            fail(pos + 4, what);
        }
        if (isTrack)
            tracks_.push_back({pos + 8, pos + 8 + length});
        pos += 8 + std::size_t(length);
    }
}

// Walks the whole song once: every event is checked and the end time found before anything
// is rendered.
void MidiFile::scan() {
    Cursor cursor(*this);
    MidiEvent event;
    while (cursor.next(event)) {
        endTime_ = event.time;
        if (event.track == 0 && event.status == 0xFF)
            collectText(event);
    }
}

void MidiFile::collectText(const MidiEvent& event) {
    std::string* text = event.data1 == kMetaTrackName   ? &title_
                        : event.data1 == kMetaCopyright ? &copyright_
                                                        : nullptr;
    if (!text || !text->empty())
        return;
    std::string clean = tags::cleanTagText(std::string_view(
        reinterpret_cast<const char*>(event.payload.data()), event.payload.size()));
    if (text == &title_ && isDefaultTrackName(clean))
        return;
    *text = std::move(clean);
}

// A sequencer names a new track before anyone else does: "Track 1", "Untitled", "Sequence". Such
// a name says nothing about the song, and a file name says more.
bool isDefaultTrackName(std::string_view name) {
    std::string word;
    for (const char c : name)
        word += char(std::tolower(static_cast<unsigned char>(c)));
    // A number after it, with or without a space, a dash, an underscore or a '#'.
    while (!word.empty() && std::isdigit(static_cast<unsigned char>(word.back())))
        word.pop_back();
    while (!word.empty() && std::strchr(" -_#.", word.back()))
        word.pop_back();
    static constexpr std::string_view kDefaults[] = {
        "track",        "trk",         "untitled",  "unnamed",        "noname",
        "no name",      "sequence",    "seq",       "new song",       "new sequence",
        "tempo",        "tempo track", "tempo map", "conductor",      "conductor track",
        "master track", "midi track",  "midi",      "untitled track", "untitled sequence"};
    return std::find(std::begin(kDefaults), std::end(kDefaults), word) != std::end(kDefaults);
}

double MidiFile::lengthMs() const {
    return static_cast<double>(endTime_) * 1000.0 / static_cast<double>(unitsPerSecond_);
}

std::uint64_t MidiFile::frameAt(std::uint64_t time, std::uint64_t unitsPerSecond, int sampleRate) {
    const unsigned __int128 scaled = static_cast<unsigned __int128>(time) * unsigned(sampleRate);
    return static_cast<std::uint64_t>((scaled + unitsPerSecond - 1) / unitsPerSecond);
}

MidiFile::Cursor::Cursor(const MidiFile& file)
    : file_(&file)
    , bytes_(file.bytes_)
    , tracks_(file.tracks_.size())
    , unitsPerTick_(file.startUnitsPerTick_) {
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        tracks_[i].pos = file.tracks_[i].begin;
        tracks_[i].end = file.tracks_[i].end;
    }
    heap_.reserve(tracks_.size());
    if (file.format_ == 2) {
        startSequence(0);
    } else {
        for (std::size_t i = 0; i < tracks_.size(); ++i)
            startTrack(i, 0);
    }
}

void MidiFile::Cursor::startTrack(std::size_t index, std::uint64_t tick) {
    tracks_[index].tick = tick;
    decode(tracks_[index], index);
    if (tracks_[index].pending)
        pushHeap(index);
}

// Format 2: each track is a pattern of its own that starts where the one before ended, at the
// default tempo. Empty patterns are passed over.
void MidiFile::Cursor::startSequence(std::size_t index) {
    for (sequentialTrack_ = index; sequentialTrack_ < tracks_.size(); ++sequentialTrack_) {
        if (!file_->smpte_)
            unitsPerTick_ = file_->startUnitsPerTick_;
        startTrack(sequentialTrack_, lastTick_);
        if (!heap_.empty())
            return;
    }
}

void MidiFile::Cursor::fail(std::size_t index, std::size_t offset, const std::string& what) const {
    throw MidiError(file_->name_, "track " + std::to_string(index + 1) + ", byte " +
                                      std::to_string(offset) + ": " + what);
}

std::uint32_t MidiFile::Cursor::readVarLen(Track& track, std::size_t index,
                                           std::size_t eventStart) const {
    const auto& b = *bytes_;
    const std::size_t start = track.pos;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        if (track.pos >= track.end)
            fail(index, eventStart, "the track ends in the middle of an event");
        const std::uint8_t byte = b[track.pos++];
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80))
            return value;
    }
    fail(index, start, "a variable-length number is longer than 4 bytes");
}

std::span<const std::uint8_t> MidiFile::Cursor::take(Track& track, std::size_t index,
                                                     std::size_t count,
                                                     std::size_t eventStart) const {
    if (count > track.end - track.pos)
        fail(index, eventStart,
             "an event of " + std::to_string(count) + " bytes runs past the end of the track");
    std::span<const std::uint8_t> data(bytes_->data() + track.pos, count);
    track.pos += count;
    return data;
}

// Decodes the track's next event into track.event, or leaves the track without a pending event
// once it has ended. A track without End of Track simply ends with its chunk.
void MidiFile::Cursor::decode(Track& track, std::size_t index) {
    track.pending = false;
    if (track.pos >= track.end)
        return;
    const auto& b = *bytes_;
    MidiEvent& e = track.event;
    e = MidiEvent{};
    e.track = static_cast<int>(index);
    e.offset = track.pos;
    track.tick += readVarLen(track, index, e.offset);
    if (track.pos >= track.end)
        fail(index, e.offset, "the track ends in the middle of an event");

    std::uint8_t status = b[track.pos];
    if (status < 0x80) {
        if (track.running == 0)
            fail(index, track.pos, "data byte " + hexByte(status) + " with no running status");
        status = track.running;
    } else {
        ++track.pos;
    }
    e.status = status;

    if (status < 0xF0) {
        track.running = status;
        const auto data = take(track, index, dataBytes(status), e.offset);
        for (std::size_t i = 0; i < data.size(); ++i) {
            if (data[i] & 0x80)
                fail(index, std::size_t(data.data() - b.data()) + i,
                     "status byte " + hexByte(data[i]) + " where a data byte was expected");
        }
        e.data1 = data[0];
        e.data2 = data.size() > 1 ? data[1] : 0;
    } else if (status == 0xF0 || status == 0xF7) {
        const std::uint32_t length = readVarLen(track, index, e.offset);
        e.payload = take(track, index, length, e.offset);
    } else if (status == 0xFF) {
        if (track.pos >= track.end)
            fail(index, e.offset, "the track ends in the middle of an event");
        e.data1 = b[track.pos++];
        const std::uint32_t length = readVarLen(track, index, e.offset);
        if (isTextMeta(e.data1) && length > track.end - track.pos) {
            // A text that claims more than its track holds (a wrong length, or a file cut in the
            // middle of a name) keeps what is there, and the track ends with it: the music
            // before it still plays.
            e.payload = std::span<const std::uint8_t>(b.data() + track.pos, track.end - track.pos);
            track.pos = track.end;
        } else {
            e.payload = take(track, index, length, e.offset);
        }
        if (e.data1 == kMetaTempo) {
            if (length != 3)
                fail(index, e.offset,
                     "a tempo event of " + std::to_string(length) + " bytes (3 expected)");
            if (e.payload[0] == 0 && e.payload[1] == 0 && e.payload[2] == 0)
                fail(index, e.offset, "tempo 0");
        } else if (e.data1 == kMetaEndOfTrack) {
            // Whatever follows End of Track in the chunk is not part of the song.
            track.end = track.pos;
        }
    } else {
        fail(index, track.pos - 1,
             "status byte " + hexByte(status) + " has no place in a MIDI file");
    }
    track.pending = true;
}

// Heap order: the earliest event first, and at equal times the lower track first.
bool MidiFile::Cursor::later(std::size_t a, std::size_t b) const {
    return tracks_[a].tick != tracks_[b].tick ? tracks_[a].tick > tracks_[b].tick : a > b;
}

void MidiFile::Cursor::pushHeap(std::size_t index) {
    heap_.push_back(index);
    std::push_heap(heap_.begin(), heap_.end(),
                   [this](std::size_t a, std::size_t b) { return later(a, b); });
}

std::size_t MidiFile::Cursor::popHeap() {
    std::pop_heap(heap_.begin(), heap_.end(),
                  [this](std::size_t a, std::size_t b) { return later(a, b); });
    const std::size_t index = heap_.back();
    heap_.pop_back();
    return index;
}

bool MidiFile::Cursor::next(MidiEvent& event) {
    if (heap_.empty())
        return false;
    const std::size_t index = popHeap();
    Track& track = tracks_[index];
    event = track.event;

    const unsigned __int128 elapsed =
        static_cast<unsigned __int128>(track.tick - lastTick_) * unitsPerTick_;
    const std::uint64_t limit = kMaxSeconds * file_->unitsPerSecond_;
    if (elapsed > limit - time_)
        fail(index, event.offset, "the song would last longer than 12 hours");
    time_ += static_cast<std::uint64_t>(elapsed);
    lastTick_ = track.tick;
    event.time = time_;
    if (event.status == 0xFF && event.data1 == kMetaTempo && !file_->smpte_)
        unitsPerTick_ = (std::uint64_t(event.payload[0]) << 16) |
                        (std::uint64_t(event.payload[1]) << 8) | event.payload[2];

    decode(track, index);
    if (track.pending) {
        pushHeap(index);
    } else if (file_->format_ == 2) {
        startSequence(sequentialTrack_ + 1);
    }
    return true;
}

} // namespace quillory::renderer
