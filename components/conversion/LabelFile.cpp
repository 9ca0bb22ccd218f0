// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/conversion/LabelFile.h"

#include "components/output/OutputFile.h"
#include "platform/ShownName.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace quillory::conversion {

namespace fs = std::filesystem;
using quillory::renderer::NoteLabel;

fs::path labelPathFor(const fs::path& output, LabelForm form) {
    fs::path labels = output;
    labels.replace_extension(form == LabelForm::Table ? ".labels.tsv" : ".labels.txt");
    return labels;
}

namespace {

constexpr const char* kHeader =
    "onset_sample\toffset_sample\tonset_seconds\toffset_seconds\tkey\tfrequency_hz\tvelocity\t"
    "channel\tbank\tprogram\tkey_offset_sample\tsound_end_sample\tsilent\n";

std::string line(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

} // namespace

std::string labelText(const std::vector<NoteLabel>& notes, int rate, double scale, LabelForm form) {
    const auto at = [scale](std::uint64_t frame) {
        return static_cast<unsigned long long>(std::llround(double(frame) * scale));
    };
    std::string text = form == LabelForm::Table ? kHeader : "";
    for (const NoteLabel& n : notes) {
        const double onset = double(at(n.onset)) / rate;
        const double offset = double(at(n.offset)) / rate;
        if (form == LabelForm::MirEval) {
            if (n.silent.empty())
                text += line("%.6f\t%.6f\t%.4f\n", onset, offset, n.frequencyHz);
            continue;
        }
        text += line("%llu\t%llu\t%.6f\t%.6f\t%d\t%.4f\t%d\t%d\t%d\t%d\t%llu\t%llu\t", at(n.onset),
                     at(n.offset), onset, offset, n.key, n.frequencyHz, n.velocity, n.channel + 1,
                     n.bank, n.program, at(n.keyOffset), at(n.soundEnd)) +
                n.silent + "\n";
    }
    return text;
}

std::string writeLabels(const fs::path& file, const std::string& text) {
    quillory::output::OutputFile output(file);
    if (std::string failed = output.create(); !failed.empty())
        return failed;
    std::FILE* stream = output.openStream();
    bool written = stream && std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    int error = errno;
    if (stream && std::fclose(stream) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written)
        return "writing " + platform::Quoted(file) + " failed: " + std::strerror(error);
    return output.commit();
}

} // namespace quillory::conversion
