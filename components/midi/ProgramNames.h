// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The General MIDI names of the 128 melodic programs, as the General MIDI standard lists them,
// for naming what a channel plays (the stems of a song).
#pragma once

#include <string_view>

namespace quillory::renderer {

// program: 0 to 127 (a byte of a Program Change); anything else is "Program".
std::string_view generalMidiProgramName(int program);

} // namespace quillory::renderer
