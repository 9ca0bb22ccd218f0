// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Our own Standard MIDI File reader. It checks a whole file before anything is rendered, so a
// corrupt file fails early with the file, track and byte offset named, and it knows the song's
// exact length through the tempo map. Events are then streamed in time order straight from the
// file's bytes: nothing is allocated per event and nothing on the strength of a length field.
// The song's title and copyright notice, for the tags of what is made from it, are read on the
// way; a broken text costs only the text, never the song. A RIFF MIDI file (RMID, often named
// .mid or .rmi) is read through to the Standard MIDI File it wraps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillory::renderer {

// "FILE: PROBLEM"; the problem alone for a message that names the file already.
class MidiError : public std::runtime_error {
public:
    MidiError(const std::string& file, std::string problem)
        : std::runtime_error(file + ": " + problem)
        , problem_(std::move(problem)) {}
    const std::string& problem() const { return problem_; }

private:
    std::string problem_;
};

struct MidiEvent {
    // Time since the start of the song, in units of which MidiFile::unitsPerSecond() make a second.
    std::uint64_t time = 0;
    // 0x80–0xEF a channel message, 0xF0 or 0xF7 a SysEx message, 0xFF a meta event.
    std::uint8_t status = 0;
    std::uint8_t data1 = 0; // first data byte, or the meta event's type
    std::uint8_t data2 = 0; // second data byte of two-byte channel messages
    int track = 0;          // counted from 0
    std::size_t offset = 0; // of the event's delta time in the file
    // SysEx or meta bytes after the length; they live as long as the MidiFile or a Cursor of it.
    std::span<const std::uint8_t> payload;
};

// Whether a track's name is only what a sequencer calls a track nobody named, in any case and
// with any number after it.
bool isDefaultTrackName(std::string_view name);

class MidiFile {
public:
    static constexpr std::uint8_t kMetaCopyright = 0x02;
    static constexpr std::uint8_t kMetaTrackName = 0x03;
    static constexpr std::uint8_t kMetaTempo = 0x51;
    static constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
    // No real MIDI file comes near this; it keeps a mistaken choice of file from eating memory.
    static constexpr std::uintmax_t kMaxFileBytes = 64u << 20;
    static constexpr std::uint64_t kMaxSeconds = 12 * 3600;

    // Both throw MidiError with a message naming the file (and the track and byte where it
    // applies).
    static MidiFile read(const std::filesystem::path& path);
    static MidiFile parse(std::vector<std::uint8_t> bytes, std::string name);

    int format() const { return format_; }
    int trackCount() const { return static_cast<int>(tracks_.size()); }
    bool smpte() const { return smpte_; }
    const std::string& name() const { return name_; }
    // The first non-empty Sequence/Track Name and Copyright Notice of the first track, cleaned
    // for a tag (see cleanTagText: UTF-8 or Latin-1, no control characters, at most 250
    // characters); empty when there is none. A name a sequencer gives a new track ("Track 1",
    // "Untitled", "Sequence": isDefaultTrackName) is no title.
    const std::string& title() const { return title_; }
    const std::string& copyright() const { return copyright_; }

    std::uint64_t unitsPerSecond() const { return unitsPerSecond_; }
    // The time of the last event, End of Track included.
    std::uint64_t endTime() const { return endTime_; }
    double lengthMs() const;
    // The first sample frame at or after `time`, at the given rate.
    static std::uint64_t frameAt(std::uint64_t time, std::uint64_t unitsPerSecond, int sampleRate);
    std::uint64_t frameAt(std::uint64_t time, int sampleRate) const {
        return frameAt(time, unitsPerSecond_, sampleRate);
    }

    // Walks the song's events in time order; events at the same time keep their track order,
    // and a format 2 file plays its tracks one after the other.
    class Cursor {
    public:
        explicit Cursor(const MidiFile& file);
        // False at the end of the song. Throws MidiError on a corrupt event.
        bool next(MidiEvent& event);

    private:
        struct Track {
            std::size_t pos = 0;
            std::size_t end = 0;
            std::uint64_t tick = 0;
            std::uint8_t running = 0;
            bool pending = false;
            MidiEvent event;
        };
        void startTrack(std::size_t index, std::uint64_t tick);
        void startSequence(std::size_t index);
        bool later(std::size_t a, std::size_t b) const;
        void decode(Track& track, std::size_t index);
        std::uint32_t readVarLen(Track& track, std::size_t index, std::size_t eventStart) const;
        std::span<const std::uint8_t> take(Track& track, std::size_t index, std::size_t count,
                                           std::size_t eventStart) const;
        [[noreturn]] void fail(std::size_t index, std::size_t offset,
                               const std::string& what) const;
        void pushHeap(std::size_t index);
        std::size_t popHeap();

        const MidiFile* file_;
        std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
        std::vector<Track> tracks_;
        std::vector<std::size_t> heap_;
        std::size_t sequentialTrack_ = 0;
        std::uint64_t lastTick_ = 0;
        std::uint64_t time_ = 0;
        std::uint64_t unitsPerTick_ = 0;
    };
    Cursor events() const { return Cursor(*this); }

private:
    struct Chunk {
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    MidiFile() = default;
    void unwrapRiff();
    void readHeader();
    void readChunks(std::size_t pos);
    void scan();
    void collectText(const MidiEvent& event);
    [[noreturn]] void fail(std::size_t offset, const std::string& what) const;

    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
    // Where the Standard MIDI File lies in the bytes: all of them, or an RMID file's data chunk.
    Chunk smf_;
    bool wrapped_ = false;
    std::string name_;
    std::string title_;
    std::string copyright_;
    int format_ = 0;
    bool smpte_ = false;
    int declaredTracks_ = 0;
    std::uint64_t unitsPerSecond_ = 1;
    // Units per tick at the song's start: the default 120 beats per minute, or the SMPTE frame.
    std::uint64_t startUnitsPerTick_ = 1;
    std::vector<Chunk> tracks_;
    std::uint64_t endTime_ = 0;
};

} // namespace quillory::renderer
