// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The renderer's keys in options.ini: what a Loudness text means, and how a key is stored and
// cleared beside the rest of the file.
#include "components/conversion/RendererSettings.h"
#include "tests/support/FileHelpers.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <utility>

namespace {

using namespace quillory::conversion;

class RendererSettingsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const QString path = dir.filePath("options.ini");
};

TEST_F(RendererSettingsTest, LoudnessIsATargetFromMinus30ToMinus5OrOffAndAnythingElseIsMinus16) {
    const LoudnessChoice standard{true, -16.0};
    const std::pair<QByteArray, LoudnessChoice> table[] = {
        {"", standard},
        {"[Renderer]\nLoudness=-20\n", {true, -20.0}},
        {"[renderer]\nloudness=  -14.5  \n", {true, -14.5}},
        {"[Renderer]\nLoudness=-30\n", {true, -30.0}},
        {"[Renderer]\nLoudness=-5\n", {true, -5.0}},
        {"[Renderer]\nLoudness=Off\n", LoudnessChoice::off()},
        {"[Renderer]\nLoudness=OFF\n", LoudnessChoice::off()},
        {"[Renderer]\nLoudness=-31\n", standard},
        {"[Renderer]\nLoudness=-4\n", standard},
        {"[Renderer]\nLoudness=16\n", standard},
        {"[Renderer]\nLoudness=loud\n", standard},
        {"[Renderer]\nLoudness=-16 LUFS\n", standard},
        {"[Renderer]\nLoudness=nan\n", standard},
        {"[Renderer]\nLoudness=\n", standard},
        {"[Renderer]\nLoudness=False\n", standard},
    };
    for (const auto& [file, expected] : table) {
        SCOPED_TRACE(file.toStdString());
        WriteBytes(path, file);
        EXPECT_EQ(ReadLoudness(path), expected);
    }
}

// Clearing the SoundFont removes its key alone; clearing one that no file holds must not
// create a settings file, nor rewrite one.
TEST_F(RendererSettingsTest, KeysAreStoredAndClearedBesideTheRestAndAnAbsentKeyTouchesNothing) {
    EXPECT_TRUE(WriteSoundFontPath(QString(), path));
    EXPECT_FALSE(QFile::exists(path));
    WriteBytes(path, "[Mine]\r\nA=1\r\n");
    EXPECT_TRUE(WriteSoundFontPath(QString(), path));
    EXPECT_EQ(ReadBytes(path), "[Mine]\r\nA=1\r\n");

    ASSERT_TRUE(WriteSoundFontPath("/sf/a.sf2", path));
    ASSERT_TRUE(WriteLoudness(LoudnessChoice::off(), path));
    EXPECT_EQ(ReadBytes(path),
              "[Mine]\r\nA=1\r\n[Renderer]\r\nSoundFont=/sf/a.sf2\r\nLoudness=Off\r\n");
    EXPECT_EQ(ReadSoundFontPath(path), "/sf/a.sf2");
    ASSERT_TRUE(WriteLoudness({true, -14.5}, path));
    ASSERT_TRUE(WriteSoundFontPath(QString(), path));
    EXPECT_EQ(ReadBytes(path), "[Mine]\r\nA=1\r\n[Renderer]\r\nLoudness=-14.5\r\n");
    EXPECT_EQ(ReadSoundFontPath(path), "");
    EXPECT_EQ(ReadLoudness(path), (LoudnessChoice{true, -14.5}));
}

} // namespace
