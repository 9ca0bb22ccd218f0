// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// MIDI into any format but MP3 with a stem for every MIDI channel that sounds, in a folder
// NAME.stems beside the output: "01 Acoustic Grand Piano.flac", "10 Drums.flac". The mix is the
// sum of the stems (StemSynthesis), so the output and its stems come from one synthesis.
//
// Levelled, the mix is measured and every stem gets the mix's gain: the first pass keeps each
// stem in a float work file of its own beside the mix's (their room reserved together), and the
// output pass reads them back with the gain. Without room for all of them the song and its stems
// are written at the fixed gain, and the conversion says why. Each file is dithered on its own,
// with noise of its own. A stem that stays silent is not written.
//
// The stems are written into a hidden folder beside NAME.stems, which takes its place together with
// the song, as one, when every file is complete: the claim on the output holds the journal of the
// renames, so that a process killed between two of them leaves the old song with the old stems or
// the new with the new once the claim is settled. An existing NAME.stems fails the file unless
// force, which replaces it. A stem name the file system refuses becomes "NN Channel".
#pragma once

#include "components/conversion/Conversions.h"
#include "components/output/Claim.h"
#include "components/synthesis/StemSynthesis.h"

#include <filesystem>
#include <functional>
#include <string>

namespace quillory::conversion {

// NAME.stems beside an output NAME.ext.
std::filesystem::path stemFolderFor(const std::filesystem::path& output);

// The stem's file name in a folder: its name and the extension, or "NN Channel" and the
// extension where `accepted` (the file system, unless a test stands in) refuses that name.
std::string stemFileName(const quillory::renderer::StemChannel& stem, const std::string& extension,
                         const std::function<bool(const std::string&)>& accepted);
// Whether a file of that name can be made in the folder (tried, then removed).
bool folderAccepts(const std::filesystem::path& folder, const std::string& name);

// Returns why the song was not evened out although asked, or an empty string; fills facts.stems.
// The song and its stems go into place through the claim on the output, which must be held.
std::string midiToSoundWithStems(quillory::renderer::MidiFile song,
                                 quillory::renderer::Synthesizer& synth,
                                 const quillory::renderer::SoundFormat& format,
                                 const Levelling& levelling, quillory::output::OutputFile output,
                                 quillory::output::Claim& claim, bool force,
                                 const ProgressFn& progress, Facts& facts);

} // namespace quillory::conversion
