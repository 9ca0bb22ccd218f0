// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The song's title and copyright, from a MIDI file's meta events to a WAV's INFO chunk: text in
// either encoding files really use, cleaned of what must never reach a tag, and broken names that
// cost only the name. The WAV is read back with ffprobe.
#include "components/midi/SongTags.h"
#include "components/midi/MidiFile.h"
#include "components/midi/TagText.h"
#include "components/output/SoundWriter.h"
#include "tests/components/renderer/Ffprobe.h"
#include "tests/components/renderer/RenderSupport.h"
#include "tests/components/renderer/WavProbe.h"

#include <gtest/gtest.h>

#include <stdexcept>

using midiwriter::Bytes;
using midiwriter::Track;
using quillory::renderer::MidiEvent;
using quillory::renderer::MidiFile;
using quillory::tags::cleanTagText;
using quillory::tags::kMaxTagChars;

namespace {

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::size_t codePoints(const std::string& utf8) {
    std::size_t n = 0;
    for (char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

int noteOns(const MidiFile& file) {
    int count = 0;
    MidiEvent event;
    for (auto cursor = file.events(); cursor.next(event);)
        count += (event.status & 0xF0) == 0x90;
    return count;
}

} // namespace

TEST(TagText, ReadsUtf8OrElseLatin1AndNeverPassesAControlCharacter) {
    struct Case {
        const char* name;
        std::string raw;
        std::string clean;
    };
    const Case cases[] = {
        {"UTF-8", "Caf\xC3\xA9 M\xC3\xBCller \xE6\x97\xA5",
         "Caf\xC3\xA9 M\xC3\xBCller \xE6\x97\xA5"},
        {"Latin-1", "Caf\xE9 M\xFCller", "Caf\xC3\xA9 M\xC3\xBCller"},
        // One byte that is not UTF-8 makes the whole text Latin-1.
        {"mostly UTF-8", "\xC3\xA9t\xE9", "\xC3\x83\xC2\xA9t\xC3\xA9"},
        {"overlong UTF-8 is not UTF-8", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"Windows punctuation", "Don\x92t \x93stop\x94",
         "Don\xE2\x80\x99t \xE2\x80\x9Cstop\xE2\x80\x9D"},
        {"line breaks and tabs separate words", "Song\r\nName\tTwo\n", "Song Name Two"},
        {"escape sequences lose their escape", "\x1B[31mRed\x07", "[31mRed"},
        {"C1 control in UTF-8",
         "A\xC2\x85"
         "B",
         "A B"},
        {"line separator",
         "A\xE2\x80\xA8"
         "B",
         "A B"},
        {"C1 byte Windows leaves undefined",
         "A\x81"
         "B",
         "A B"},
        {"a NUL ends a padded field", std::string("Title\0garbage\x01", 14), "Title"},
        {"byte order mark", "\xEF\xBB\xBFTitle", "Title"},
        {"only controls", "\x01\x02\x03", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clean = cleanTagText(c.raw);
        EXPECT_EQ(clean, c.clean);
        EXPECT_TRUE(quillory::tags::isValidUtf8(clean));
    }
}

TEST(TagText, CutsAt250CharactersNeverInsideOne) {
    std::string accents;
    for (int i = 0; i < 300; ++i)
        accents += "\xC3\xA9"; // é, two bytes
    EXPECT_EQ(cleanTagText(accents), accents.substr(0, 2 * kMaxTagChars));

    std::string wide;
    for (int i = 0; i < 300; ++i)
        wide += "\xF0\x9F\x8E\xB5"; // a note beyond the BMP, four bytes
    EXPECT_EQ(cleanTagText(wide), wide.substr(0, 4 * kMaxTagChars));

    // The cut never leaves a space at the end.
    const std::string spaced = std::string(kMaxTagChars - 1, 'a') + "\n\nbcd";
    EXPECT_EQ(cleanTagText(spaced), std::string(kMaxTagChars - 1, 'a'));
}

TEST(MidiFileTags, TitleAndCopyrightComeFromTheFirstTrack) {
    Track conductor;
    conductor.meta(0, 0x02, bytesOf("\xA9 1999 Someone"))
        .meta(0, 0x03, bytesOf("\x01\x02")) // nothing left once cleaned: passed over
        .meta(0, 0x03, bytesOf(std::string("Nocturne\0\0", 10))) // NUL-padded
        .meta(0, 0x03, bytesOf("Second name"))
        .tempo(0, 500000)
        .endOfTrack();
    Track piano;
    piano.meta(0, 0x03, bytesOf("Piano")).noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    const MidiFile song = MidiFile::parse(midiwriter::file(1, 96, {conductor, piano}), "s.mid");
    EXPECT_EQ(song.title(), "Nocturne");
    EXPECT_EQ(song.copyright(), "\xC2\xA9 1999 Someone");

    // A track name further down names an instrument, not the song.
    Track plain;
    plain.tempo(0, 500000).endOfTrack();
    const MidiFile unnamed = MidiFile::parse(midiwriter::file(1, 96, {plain, piano}), "u.mid");
    EXPECT_EQ(unnamed.title(), "");
    EXPECT_EQ(unnamed.copyright(), "");
}

TEST(MidiFileTags, ASequencersNameForANewTrackIsNoTitle) {
    Track piano;
    piano.noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    const auto titleOf = [&](const std::string& name) {
        Track first;
        first.meta(0, 0x03, bytesOf(name)).tempo(0, 500000).endOfTrack();
        return MidiFile::parse(midiwriter::file(1, 96, {first, piano}), "song.mid").title();
    };
    for (const char* placeholder :
         {"Track 1", "TRACK 12", "track1", "Track-01", "Untitled", "untitled 3", "Sequence",
          "SEQUENCE 1", "Tempo Track", "Unnamed", "  Track 1  ", "Seq-1", "New Song"})
        EXPECT_EQ(titleOf(placeholder), "") << placeholder;
    for (const char* title : {"Track of the Year", "Untitled Love Song", "Sequence in G", "1812",
                              "Tracks", "Piano Sonata 1"})
        EXPECT_EQ(titleOf(title), title) << title;

    // A real name after the sequencer's is the title.
    Track named;
    named.meta(0, 0x03, bytesOf("Track 1"))
        .meta(0, 0x03, bytesOf("Gymnopedie"))
        .tempo(0, 500000)
        .endOfTrack();
    EXPECT_EQ(MidiFile::parse(midiwriter::file(1, 96, {named, piano}), "g.mid").title(),
              "Gymnopedie");
    // The tags then take the file's name.
    Track placeholder;
    placeholder.meta(0, 0x03, bytesOf("Track 1")).endOfTrack();
    const MidiFile song =
        MidiFile::parse(midiwriter::file(1, 96, {placeholder, piano}), "dir/My Song.mid");
    EXPECT_EQ(quillory::renderer::songTags(song).title, "My Song");
}

TEST(MidiFileTags, ABrokenNameCostsOnlyTheName) {
    Track music;
    music.noteOn(0, 0, 60).noteOff(96, 0, 64).noteOn(0, 0, 62).noteOff(96, 0, 62).endOfTrack();

    // A name of a megabyte is cut.
    Bytes huge(1 << 20, 'x');
    const MidiFile long1 = MidiFile::parse(
        midiwriter::file(1, 96, {Track().meta(0, 0x03, huge).endOfTrack(), music}), "long.mid");
    EXPECT_EQ(long1.title(), std::string(kMaxTagChars, 'x'));
    EXPECT_DOUBLE_EQ(long1.lengthMs(), 1000.0);

    // Binary junk as a name leaves only printable text.
    Bytes junk(4096);
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = std::uint8_t(i * 7 + 1);
    const MidiFile binary = MidiFile::parse(
        midiwriter::file(1, 96, {Track().meta(0, 0x03, junk).endOfTrack(), music}), "bin.mid");
    EXPECT_FALSE(binary.title().empty());
    EXPECT_LE(codePoints(binary.title()), kMaxTagChars);
    EXPECT_EQ(binary.title(), cleanTagText(binary.title()));
    EXPECT_EQ(noteOns(binary), 2);

    // A name that claims more than its track holds: the track ends there, the song still plays.
    const MidiFile cut = MidiFile::parse(
        midiwriter::file(1, 96,
                         {Track().raw({0x00, 0xFF, 0x03, 0x82, 0x00, 'O', 'p', '.'}), music}),
        "cut.mid");
    EXPECT_EQ(cut.title(), "Op.");
    EXPECT_EQ(noteOns(cut), 2);
    EXPECT_DOUBLE_EQ(cut.lengthMs(), 1000.0);

    // Only text is forgiven: a tempo cut short still makes the file unreadable.
    EXPECT_THROW(
        MidiFile::parse(midiwriter::file(0, 96, {Track().raw({0x00, 0xFF, 0x51, 0x03, 7})}),
                        "tempo.mid"),
        quillory::renderer::MidiError);
}

TEST(SoundWriterTags, TitleCopyrightAndSoftwareReachTheInfoChunk) {
    if (!ffprobe::available())
        GTEST_SKIP() << "ffprobe (package ffmpeg) is not installed";
    rendertest::TempFolder folder;
    const std::filesystem::path path = folder / "tagged.wav";
    {
        quillory::renderer::SoundWriter writer(path, {.sampleRate = 22050, .bitsPerSample = 16},
                                               1000);
        writer.setTags({.title = "Caf\xE9\tM\xFCller", // Latin-1, with a tab
                        .copyright = "\xC2\xA9 2024 Me",
                        .software = std::string(quillory::tags::kSoftware)});
        std::vector<float> left(1000, 0.1f), right(1000, -0.1f);
        writer.write(left.data(), right.data(), left.size());
        EXPECT_THROW(writer.setTags({.title = "late"}), std::logic_error);
        writer.close();
    }
    const ffprobe::Facts facts = ffprobe::probe(path);
    ASSERT_TRUE(facts.ran);
    EXPECT_EQ(facts.tag("title"), "Caf\xC3\xA9 M\xC3\xBCller");
    EXPECT_EQ(facts.tag("copyright"), "\xC2\xA9 2024 Me");
    // libsndfile adds its own name and version to the software field.
    EXPECT_EQ(facts.tag("encoder").rfind("Quillory 2.0", 0), 0u) << facts.tag("encoder");
    EXPECT_TRUE(facts.warnings.empty()) << facts.warnings.front();
    // Players that know nothing of INFO still find the audio.
    const WavProbe wav = WavProbe::read(path);
    EXPECT_TRUE(wav.valid);
    EXPECT_EQ(wav.frames(), 1000u);

    // A tagged file closed before any audio (a render stopped at once) is still a valid WAV.
    {
        quillory::renderer::SoundWriter writer(folder / "empty.wav", {}, 1000);
        writer.setTags({.title = "Nothing yet"});
        writer.close();
    }
    const WavProbe empty = WavProbe::read(folder / "empty.wav");
    EXPECT_TRUE(empty.valid);
    EXPECT_EQ(empty.frames(), 0u);
}
