// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A tiny Standard MIDI File writer for tests: tracks are built event by event (with or without
// running status) and assembled into a file, so tests make exactly the MIDI they need, broken
// or not.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace midiwriter {

using Bytes = std::vector<std::uint8_t>;

inline void putVarLen(Bytes& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value);
    while (n-- > 0)
        out.push_back(groups[n] | (n ? 0x80 : 0));
}

inline void putBe32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(value >> shift));
}

inline void putBe16(Bytes& out, std::uint16_t value) {
    out.push_back(std::uint8_t(value >> 8));
    out.push_back(std::uint8_t(value));
}

class Track {
public:
    explicit Track(bool runningStatus = false)
        : runningStatus_(runningStatus) {}

    Track& channel(std::uint32_t delta, std::uint8_t status, std::uint8_t d1) {
        return message(delta, status, {d1});
    }
    Track& channel(std::uint32_t delta, std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
        return message(delta, status, {d1, d2});
    }
    Track& noteOn(std::uint32_t delta, int ch, int key, int velocity = 100) {
        return channel(delta, std::uint8_t(0x90 | ch), std::uint8_t(key), std::uint8_t(velocity));
    }
    Track& noteOff(std::uint32_t delta, int ch, int key) {
        return channel(delta, std::uint8_t(0x80 | ch), std::uint8_t(key), 64);
    }
    Track& program(std::uint32_t delta, int ch, int program) {
        return channel(delta, std::uint8_t(0xC0 | ch), std::uint8_t(program));
    }
    Track& controller(std::uint32_t delta, int ch, int number, int value) {
        return channel(delta, std::uint8_t(0xB0 | ch), std::uint8_t(number), std::uint8_t(value));
    }
    Track& tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter) {
        return meta(delta, 0x51,
                    {std::uint8_t(microsecondsPerQuarter >> 16),
                     std::uint8_t(microsecondsPerQuarter >> 8),
                     std::uint8_t(microsecondsPerQuarter)});
    }
    Track& meta(std::uint32_t delta, std::uint8_t type, const Bytes& data) {
        putVarLen(bytes_, delta);
        bytes_.push_back(0xFF);
        bytes_.push_back(type);
        putVarLen(bytes_, std::uint32_t(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    // data without the leading F0; a complete message ends with F7.
    Track& sysex(std::uint32_t delta, const Bytes& data) {
        putVarLen(bytes_, delta);
        bytes_.push_back(0xF0);
        putVarLen(bytes_, std::uint32_t(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    Track& endOfTrack(std::uint32_t delta = 0) { return meta(delta, 0x2F, {}); }
    // Anything at all, for broken files.
    Track& raw(std::initializer_list<std::uint8_t> data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Track& message(std::uint32_t delta, std::uint8_t status,
                   std::initializer_list<std::uint8_t> data) {
        putVarLen(bytes_, delta);
        if (!runningStatus_ || status != lastStatus_)
            bytes_.push_back(status);
        lastStatus_ = status;
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }

    bool runningStatus_;
    std::uint8_t lastStatus_ = 0;
    Bytes bytes_;
};

inline Bytes header(int format, int trackCount, std::uint16_t division) {
    Bytes out{'M', 'T', 'h', 'd'};
    putBe32(out, 6);
    putBe16(out, std::uint16_t(format));
    putBe16(out, std::uint16_t(trackCount));
    putBe16(out, division);
    return out;
}

inline void appendChunk(Bytes& out, const char* id, const Bytes& data) {
    out.insert(out.end(), id, id + 4);
    putBe32(out, std::uint32_t(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

inline Bytes file(int format, std::uint16_t division, const std::vector<Track>& tracks) {
    Bytes out = header(format, int(tracks.size()), division);
    for (const Track& track : tracks)
        appendChunk(out, "MTrk", track.bytes());
    return out;
}

// The song as a RIFF MIDI file (RMID): an INFO list of odd length first, as many writers put
// one, then the song in the data chunk. RIFF sizes are little-endian; odd chunks take a pad byte.
inline Bytes rmid(const Bytes& song) {
    const auto chunk = [](Bytes& out, const char* id, const Bytes& data) {
        out.insert(out.end(), id, id + 4);
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(std::uint8_t(data.size() >> shift));
        out.insert(out.end(), data.begin(), data.end());
        if (data.size() % 2)
            out.push_back(0);
    };
    Bytes form{'R', 'M', 'I', 'D'}, out;
    chunk(form, "LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 3, 0, 0, 0, 'N', 'o', 0});
    chunk(form, "data", song);
    chunk(out, "RIFF", form);
    return out;
}

inline void save(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace midiwriter
