// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The MIDI reader: song lengths through tempo maps and time divisions, event order across
// tracks, and a clear refusal, naming file, track and byte, of every kind of broken file.
#include "components/midi/MidiFile.h"
#include "tests/support/MidiWriter.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using midiwriter::Bytes;
using midiwriter::Track;
using quillory::renderer::MidiError;
using quillory::renderer::MidiEvent;
using quillory::renderer::MidiFile;

namespace {

MidiFile parse(const Bytes& bytes) {
    return MidiFile::parse(bytes, "song.mid");
}

std::vector<MidiEvent> eventsOf(const MidiFile& file) {
    std::vector<MidiEvent> events;
    MidiEvent event;
    auto cursor = file.events();
    while (cursor.next(event))
        events.push_back(event);
    return events;
}

std::string errorOf(const Bytes& bytes) {
    try {
        parse(bytes);
    } catch (const MidiError& e) {
        return e.what();
    }
    return "(accepted)";
}

struct LengthCase {
    const char* name;
    Bytes file;
    double expectedMs;
};

std::vector<LengthCase> lengthCases() {
    return {
        {"default tempo is 120 bpm",
         midiwriter::file(0, 96, {Track().noteOn(0, 0, 60).noteOff(192, 0, 60).endOfTrack()}),
         1000.0},
        {"tempo change mid-song",
         midiwriter::file(
             0, 480,
             {Track().noteOn(0, 0, 60).noteOff(960, 0, 60).tempo(0, 250000).endOfTrack(480)}),
         1000.0 + 250.0},
        {"tempo map in the first track, notes in the second",
         midiwriter::file(1, 480,
                          {Track().tempo(0, 1000000).tempo(480, 600000).endOfTrack(),
                           Track().noteOn(0, 0, 60).noteOff(1440, 0, 60).endOfTrack()}),
         1000.0 + 1200.0},
        {"a tempo in any track applies to all",
         midiwriter::file(
             1, 100,
             {Track().endOfTrack(300),
              Track().noteOn(0, 1, 60).tempo(100, 1000000).noteOff(200, 1, 60).endOfTrack()}),
         500.0 + 2000.0},
        {"the longest track sets the length",
         midiwriter::file(1, 480, {Track().endOfTrack(480), Track().endOfTrack(480 * 5)}), 2500.0},
        {"SMPTE 25 frames of 40 ticks",
         midiwriter::file(0, 0xE728, {Track().tempo(0, 100000).endOfTrack(1500)}), 1500.0},
        {"SMPTE 30 drop-frame", midiwriter::file(0, 0xE364, {Track().endOfTrack(2997)}),
         2997.0 * 1001.0 / 3000.0},
        {"wrapped in a RIFF MIDI file",
         midiwriter::rmid(midiwriter::file(0, 96, {Track().noteOn(0, 0, 60).endOfTrack(96)})),
         500.0},
    };
}

} // namespace

TEST(MidiFileLength, FollowsTheTempoMapAndTimeDivision) {
    for (const LengthCase& c : lengthCases()) {
        SCOPED_TRACE(c.name);
        const MidiFile file = parse(c.file);
        EXPECT_NEAR(file.lengthMs(), c.expectedMs, 1e-6);
        EXPECT_EQ(file.frameAt(file.endTime(), 8000),
                  static_cast<std::uint64_t>(std::ceil(c.expectedMs * 8 - 1e-9)));
    }
}

TEST(MidiFileLength, FormatTwoPlaysPatternsInTurnEachFromTheDefaultTempo) {
    const MidiFile file = parse(midiwriter::file(
        2, 480,
        {Track().tempo(0, 250000).noteOn(0, 0, 60).noteOff(480, 0, 60).endOfTrack(),
         Track().noteOn(0, 0, 64).noteOff(480, 0, 64).endOfTrack()}));
    EXPECT_DOUBLE_EQ(file.lengthMs(), 250.0 + 500.0);
    std::vector<int> tracksInOrder;
    for (const MidiEvent& e : eventsOf(file))
        tracksInOrder.push_back(e.track);
    EXPECT_EQ(tracksInOrder, (std::vector<int>{0, 0, 0, 0, 1, 1, 1}));
}

TEST(MidiFileLength, RefusesSongsLongerThanTwelveHours) {
    Track track;
    // 0x0FFFFFFF ticks at 96 per quarter and 120 bpm are about 776 hours.
    track.tempo(0, 500000).noteOn(0x0FFFFFFF, 0, 60).endOfTrack();
    const std::string error = errorOf(midiwriter::file(0, 96, {track}));
    EXPECT_NE(error.find("longer than 12 hours"), std::string::npos) << error;

    Track twelveHours;
    twelveHours.tempo(0, 1000000);
    for (int hour = 0; hour < 12; ++hour)
        twelveHours.noteOn(hour ? 3600 : 0, 0, 60).noteOff(0, 0, 60);
    twelveHours.endOfTrack(3600 - 1);
    EXPECT_NEAR(parse(midiwriter::file(0, 1, {twelveHours})).lengthMs(), 12 * 3600e3 - 1000, 1e-3);
}

TEST(MidiFileEvents, MergeTracksInTimeOrderKeepingTrackOrderOnTies) {
    const MidiFile file = parse(
        midiwriter::file(1, 96,
                         {Track().noteOn(10, 0, 1).noteOn(10, 0, 3).endOfTrack(),
                          Track().noteOn(10, 1, 2).noteOn(5, 1, 4).noteOn(20, 1, 5).endOfTrack()}));
    std::vector<int> keys;
    std::uint64_t lastTime = 0;
    for (const MidiEvent& e : eventsOf(file)) {
        EXPECT_GE(e.time, lastTime);
        lastTime = e.time;
        if ((e.status & 0xF0) == 0x90)
            keys.push_back(e.data1);
    }
    EXPECT_EQ(keys, (std::vector<int>{1, 2, 4, 3, 5}));
}

TEST(MidiFileEvents, RunningStatusReadsAsTheFullMessages) {
    auto song = [](bool runningStatus) {
        Track track(runningStatus);
        track.noteOn(0, 2, 60)
            .noteOn(0, 2, 64, 90)
            .channel(10, 0x92, 60, 0)
            .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
            .noteOn(0, 2, 67)
            .controller(5, 2, 7, 100)
            .controller(0, 2, 10, 30)
            .program(1, 2, 5)
            .program(1, 2, 6)
            .endOfTrack();
        return midiwriter::file(0, 96, {track});
    };
    const Bytes packed = song(true);
    ASSERT_LT(packed.size(), song(false).size());
    const MidiFile packedFile = parse(packed);
    const MidiFile plainFile = parse(song(false));
    const auto a = eventsOf(packedFile);
    const auto b = eventsOf(plainFile);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a[i].status, b[i].status);
        EXPECT_EQ(a[i].data1, b[i].data1);
        EXPECT_EQ(a[i].data2, b[i].data2);
        EXPECT_EQ(a[i].time, b[i].time);
        EXPECT_TRUE(std::equal(a[i].payload.begin(), a[i].payload.end(), b[i].payload.begin(),
                               b[i].payload.end()));
    }
    EXPECT_EQ(a[3].status, 0xF0);
    EXPECT_EQ(a[3].payload.size(), 5u);
}

TEST(MidiFileEvents, ToleratesWhatRealFilesContain) {
    // No End of Track: the song ends with its last event.
    EXPECT_DOUBLE_EQ(
        parse(midiwriter::file(0, 96, {Track().noteOn(0, 0, 60).noteOff(96, 0, 60)})).lengthMs(),
        500.0);
    // Junk after End of Track is not part of the song.
    EXPECT_DOUBLE_EQ(
        parse(midiwriter::file(0, 96, {Track().endOfTrack(96).raw({0x00, 0xF4, 0x99})})).lengthMs(),
        500.0);
    // A longer header and chunks of unknown kinds are passed over.
    Bytes file = midiwriter::header(0, 1, 96);
    file[7] = 8;
    file.insert(file.end(), {0xAA, 0xBB});
    midiwriter::appendChunk(file, "XFIH", {1, 2, 3});
    midiwriter::appendChunk(file, "MTrk", Track().endOfTrack(192).bytes());
    EXPECT_DOUBLE_EQ(parse(file).lengthMs(), 1000.0);
    // Many tracks, all present.
    std::vector<Track> tracks(200);
    for (int i = 0; i < 200; ++i)
        tracks[i]
            .noteOn(std::uint32_t(i), i % 16, 40 + i % 50)
            .noteOff(10, i % 16, 40 + i % 50)
            .endOfTrack();
    const MidiFile many = parse(midiwriter::file(1, 96, tracks));
    EXPECT_EQ(many.trackCount(), 200);
    EXPECT_EQ(eventsOf(many).size(), 600u);
}

namespace {

struct BadCase {
    const char* name;
    Bytes file;
    const char* expected; // part of the message
};

Bytes withTrackData(std::initializer_list<std::uint8_t> data, int declaredTracks = 1) {
    Bytes file = midiwriter::header(0, declaredTracks, 96);
    midiwriter::appendChunk(file, "MTrk", Bytes(data));
    return file;
}

// Track data starts at byte 22: a 14-byte header and the 8-byte MTrk chunk header.
std::vector<BadCase> badCases() {
    Bytes headerOnly = midiwriter::header(0, 1, 96);
    Bytes shortHeader = midiwriter::file(0, 96, {Track().endOfTrack()});
    shortHeader[7] = 5;
    Bytes hugeHeader = shortHeader;
    hugeHeader[4] = hugeHeader[5] = hugeHeader[6] = hugeHeader[7] = 0xFF;
    Bytes format3 = midiwriter::file(0, 96, {Track().endOfTrack()});
    format3[9] = 3;
    Bytes trackPastEnd = midiwriter::file(0, 96, {Track().endOfTrack()});
    trackPastEnd[21] = 200;
    Bytes unknownHuge = midiwriter::header(0, 1, 96);
    unknownHuge.insert(unknownHuge.end(), {'J', 'U', 'N', 'K', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0});
    Bytes sysexHuge = withTrackData({0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x02});
    sysexHuge.resize(100, 0);
    sysexHuge[21] = 100 - 22;
    Bytes missingTracks = midiwriter::file(1, 96, {Track().endOfTrack(), Track().endOfTrack()});
    missingTracks[11] = 3;
    Bytes wave{'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    // The song in an RMID file starts at byte 44, after the RIFF header and the INFO list.
    Bytes rmidPastEnd = midiwriter::rmid(midiwriter::file(0, 96, {Track().endOfTrack()}));
    rmidPastEnd[40] = 0xFF;
    Bytes rmidNoData = midiwriter::rmid({});
    rmidNoData[36] = 'D';
    return {
        {"empty file", {}, "song.mid: the file is empty"},
        {"not MIDI", wave, "song.mid: not a MIDI file (a RIFF file of type 'WAVE'"},
        {"RMID data chunk past the end", rmidPastEnd,
         "song.mid: byte 40: chunk 'data' of 255 bytes runs past the end"},
        {"RMID without a data chunk", rmidNoData, "an RMID file without a 'data' chunk"},
        {"RMID holding a broken song", midiwriter::rmid(trackPastEnd),
         "song.mid: track 1, byte 62: chunk 'MTrk' of 200 bytes runs past the end of the file"},
        {"header only", headerOnly, "song.mid: the header declares 1 track but the file holds 0"},
        {"header length 5", shortHeader, "song.mid: byte 4: the MThd header length is 5"},
        {"header length past the end", hugeHeader,
         "byte 4: the MThd header length 4294967295 runs past the end"},
        {"format 3", format3, "byte 8: format 3 is not a Standard MIDI File format"},
        {"time division 0", midiwriter::file(0, 0, {Track().endOfTrack()}),
         "byte 12: the time division is 0"},
        {"SMPTE 23 fps", midiwriter::file(0, 0xE928, {Track().endOfTrack()}),
         "SMPTE time division with 23 frames"},
        {"SMPTE 0 ticks", midiwriter::file(0, 0xE700, {Track().endOfTrack()}), "0 ticks per frame"},
        {"no tracks", midiwriter::header(0, 0, 96), "byte 10: the header declares no tracks"},
        {"tempo 0", midiwriter::file(0, 96, {Track().tempo(0, 0).endOfTrack()}),
         "song.mid: track 1, byte 22: tempo 0"},
        {"tempo of 2 bytes", withTrackData({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}),
         "track 1, byte 22: a tempo event of 2 bytes"},
        {"track past the end", trackPastEnd,
         "song.mid: track 1, byte 18: chunk 'MTrk' of 200 bytes runs past the end of the file"},
        {"unknown chunk of 0xFFFFFFFF bytes", unknownHuge,
         "byte 18: chunk 'JUNK' of 4294967295 bytes runs past"},
        {"5-byte variable-length number",
         withTrackData({0x81, 0x82, 0x83, 0x84, 0x05, 0x90, 60, 100}),
         "track 1, byte 22: a variable-length number is longer than 4 bytes"},
        {"data byte with no running status", withTrackData({0x00, 0x3C, 0x64}),
         "track 1, byte 23: data byte 0x3C with no running status"},
        {"SysEx of 0x0FFFFFFF bytes", sysexHuge,
         "track 1, byte 22: an event of 268435455 bytes runs past the end"},
        {"more tracks declared than held", missingTracks,
         "the header declares 3 tracks but the file holds 2"},
        {"chunk header cut short",
         [] {
             Bytes f = midiwriter::file(0, 96, {Track().endOfTrack()});
             f[11] = 2;
             f.insert(f.end(), {'M', 'T'});
             return f;
         }(),
         "byte 26: a chunk header is cut short"},
        {"event cut short", withTrackData({0x00, 0x90, 60}),
         "track 1, byte 22: an event of 2 bytes runs past"},
        {"delta time cut short", withTrackData({0x00, 0x90, 60, 10, 0x81}),
         "track 1, byte 26: the track ends in the middle"},
        {"meta cut short", withTrackData({0x00, 0xFF}),
         "track 1, byte 22: the track ends in the middle"},
        {"status byte as data", withTrackData({0x00, 0x90, 60, 0x80}),
         "track 1, byte 25: status byte 0x80 where a data byte"},
        {"system common status", withTrackData({0x00, 0xF2, 0x00, 0x00}),
         "track 1, byte 23: status byte 0xF2 has no place"},
        {"error in the second track",
         [] {
             Bytes f = midiwriter::file(1, 96, {Track().endOfTrack(), Track().raw({0x00, 0x45})});
             return f;
         }(),
         "track 2, byte 35: data byte 0x45 with no running status"},
    };
}

} // namespace

TEST(MidiFileErrors, EveryBrokenFileIsRefusedWithFileTrackAndByte) {
    for (const BadCase& c : badCases()) {
        SCOPED_TRACE(c.name);
        const std::string error = errorOf(c.file);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

TEST(MidiFileErrors, ReadNamesThePathOfWhatCannotBeRead) {
    QTemporaryDir tmp;
    const std::filesystem::path dir(tmp.path().toStdString());
    const std::filesystem::path missing = dir / "missing.mid";
    try {
        MidiFile::read(missing);
        ADD_FAILURE() << "a missing file was read";
    } catch (const MidiError& e) {
        EXPECT_NE(std::string(e.what()).find(missing.string() + ": cannot be opened"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_THROW(MidiFile::read(dir), MidiError);

    const std::filesystem::path good = dir / "good.mid";
    midiwriter::save(good, midiwriter::file(0, 96, {Track().endOfTrack(96)}));
    const MidiFile file = MidiFile::read(good);
    EXPECT_EQ(file.name(), good.string());
    EXPECT_DOUBLE_EQ(file.lengthMs(), 500.0);
}
