// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// --resume: a batch killed half-way, or a collection that grew, is run again with the same
// command, and every input whose output is complete already is left as it is. Complete means
// that its length agrees with the input's (a song's total time plus the ring after it, up to
// the longest tail), or that the report of an earlier run says "ok" for that output with the same
// settings and SoundFont. Outputs are only ever put in place whole, so what a killed run leaves
// are hidden files beside the output, which the folder's sweep removes (completing or undoing
// first a song and its stems that were half put in place), and the input is converted again.
#pragma once

#include "tools/convert/Plan.h"

#include <QJsonArray>
#include <QJsonObject>

#include <filesystem>
#include <map>
#include <string>

namespace convert {

class Resume {
public:
    // settings and soundFonts as the report of this run writes them; `report` is the report file
    // that earlier runs appended to (none when it does not exist yet).
    Resume(QJsonObject settings, QJsonArray soundFonts, const std::filesystem::path& report);

    // Why the job's output is complete already, or empty when it is to be made, judged after the
    // output's folder is swept; an incomplete output is marked to be replaced.
    std::string complete(Job& job) const;

private:
    bool reportedOk(const Job& job) const;

    QJsonObject settings_;
    QJsonArray soundFonts_;
    std::map<QString, QJsonObject> okLines_; // output -> the last "ok" line about it
};

// Whether a sound file of `seconds` agrees with its input: no shorter than the input's time and
// no longer than that plus `longestTail` seconds, give or take a few milliseconds of coding.
bool lengthAgrees(double seconds, double inputSeconds, double longestTail);

} // namespace convert
