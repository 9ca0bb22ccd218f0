// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the first bytes of standard input say it holds. The command's own tests pipe songs and
// WAV files in, and what is refused.
#include "tools/convert/StandardStreams.h"

#include <gtest/gtest.h>

using namespace convert;

TEST(ConvertStandardInput, ItsFirstBytesSayMidiOrWavAndNothingElse) {
    using namespace std::string_literals;
    const std::vector<std::pair<std::string, std::optional<InputType>>> table = {
        {"MThd\0\0\0\x06"s, InputType::Midi},
        {"RIFF\x10\0\0\0RMIDdata"s, InputType::Midi},
        {"RIFF\x10\0\0\0WAVEfmt "s, InputType::Wav},
        {"RF64\xff\xff\xff\xffWAVEds64"s, InputType::Wav},
        {"RIFF\x10\0\0\0AVI LIST"s, std::nullopt},
        {"RIFF\x10\0\0"s, std::nullopt},
        {"OggS\0\x02\0\0"s, std::nullopt},
        {""s, std::nullopt},
    };
    for (const auto& [head, type] : table)
        EXPECT_EQ(contentType({reinterpret_cast<const std::uint8_t*>(head.data()), head.size()}),
                  type)
            << head;
}
