// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Runs a planned batch: up to `jobs` files at once, each worker with its own synthesizer. The
// workers' songs draw their synthesis threads from one budget of one thread per core, each song
// at most its worker's share of the cores, so the batch never synthesises on more threads than
// there are cores.
#pragma once

#include "tools/convert/ConvertSettings.h"
#include "tools/convert/JsonReport.h"
#include "tools/convert/Plan.h"
#include "tools/convert/Reporter.h"
#include "tools/convert/Resume.h"

#include <optional>
#include <vector>

namespace convert {

// What a batch does beyond converting: leave complete outputs (--resume), and stop a file that
// takes longer than the timeout (seconds of wall time), failing it.
struct BatchRules {
    const Resume* resume = nullptr;
    std::optional<double> timeout;
};

// Converts every job, until interrupted: then the files in flight stop and the rest never start.
// Each file's end goes to the reporter and, when there is one, to the JSON report.
BatchCount runBatch(const std::vector<Job>& jobs, const ConvertSettings& settings, int parallel,
                    bool force, Reporter& reporter, JsonReport* report = nullptr,
                    const BatchRules& rules = {});

} // namespace convert
