// The renderer's SoundFont key in options.ini, and the header check that keeps other files out.
#include "app/settings/SoundFontSetting.h"
#include "tests/app/dialogs/DialogTestSupport.h"

#include <QDir>

namespace {

class SoundFontSettingTest : public DialogTest {
protected:
    QString file(const char* name, const QByteArray& bytes) {
        const QString path = program.filePath(QString::fromLatin1(name));
        WriteBytes(path, bytes);
        return path;
    }
};

TEST_F(SoundFontSettingTest, KeyIsWrittenReadAndRemovedWithoutTouchingOtherSections) {
    const QString ini = SettingsPath();
    EXPECT_EQ(ReadSoundFontPath(ini), "");
    EXPECT_TRUE(WriteSoundFontPath("", ini));
    EXPECT_FALSE(QFile::exists(ini)) << "removing an absent key creates no file";
    WriteBytes(ini, "[MP3]\nBitrate=64\n");
    EXPECT_TRUE(WriteSoundFontPath("/usr/share/sounds/sf2/My Font.sf2", ini));
    EXPECT_EQ(optionsFile(),
              "[MP3]\nBitrate=64\n[Renderer]\nSoundFont=/usr/share/sounds/sf2/My Font.sf2\n");
    EXPECT_EQ(ReadSoundFontPath(ini), "/usr/share/sounds/sf2/My Font.sf2");
    EXPECT_TRUE(WriteSoundFontPath("", ini));
    EXPECT_EQ(ReadSoundFontPath(ini), "");
    EXPECT_EQ(optionsFile(), "[MP3]\nBitrate=64\n[Renderer]\n");
    EXPECT_FALSE(WriteSoundFontPath("/x.sf2", program.filePath("no/such/folder/options.ini")));
}

TEST_F(SoundFontSettingTest, ProgramChoiceIsReadOnceAndHeldEvenWhenTheWriteFails) {
    WriteBytes(SettingsPath(), "[renderer]\nsoundfont=/a.sf2\n");
    EXPECT_EQ(SoundFontPath(), "") << "the choice was loaded at start-up, before the file came";
    LoadSoundFontPath();
    EXPECT_EQ(SoundFontPath(), "/a.sf2");
    WriteBytes(SettingsPath(), "[Renderer]\nSoundFont=/changed/outside.sf2\n");
    EXPECT_EQ(SoundFontPath(), "/a.sf2") << "the file is read once per run";
    EXPECT_TRUE(SetSoundFontPath("/b.sf2"));
    EXPECT_EQ(ReadSoundFontPath(SettingsPath()), "/b.sf2");

    SetSettingsPath(program.filePath("gone/options.ini"));
    LoadSoundFontPath();
    EXPECT_EQ(SoundFontPath(), "");
    EXPECT_FALSE(SetSoundFontPath("/c.sf2"));
    EXPECT_EQ(SoundFontPath(), "/c.sf2");
}

TEST_F(SoundFontSettingTest, OnlyRiffFilesOfFormSfbkAreSoundFonts) {
    EXPECT_EQ(SoundFontProblem(file("good.sf2", QByteArray("RIFF\x10\x00\x00\x00sfbkLIST", 16))),
              "");
    EXPECT_EQ(SoundFontProblem(file("exact.sf3", QByteArray("RIFF\x00\x00\x00\x00sfbk", 12))), "");
    const QString notSoundFont = "The file is not a SoundFont (.sf2 or .sf3).";
    EXPECT_EQ(SoundFontProblem(file("wave.sf2", QByteArray("RIFF\x10\x00\x00\x00WAVEfmt ", 16))),
              notSoundFont);
    EXPECT_EQ(SoundFontProblem(file("short.sf2", "RIFF\x10\x00")), notSoundFont);
    EXPECT_EQ(SoundFontProblem(file("empty.sf2", "")), notSoundFont);
    EXPECT_EQ(SoundFontProblem(file("rifx.sf2", QByteArray("RIFX\x10\x00\x00\x00sfbk", 12))),
              notSoundFont);
    EXPECT_EQ(SoundFontProblem(program.filePath("none.sf2")), "The file does not exist.");
    QDir(program.path()).mkdir("folder.sf2");
    EXPECT_EQ(SoundFontProblem(program.filePath("folder.sf2")), "This is a folder, not a file.");
}

} // namespace
