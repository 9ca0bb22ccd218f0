// Runs a planned batch: up to `jobs` files at once, each worker with its own synthesizer.
#pragma once

#include "tools/convert/ConvertSettings.h"
#include "tools/convert/Plan.h"
#include "tools/convert/Reporter.h"

#include <vector>

namespace convert {

// Returns how many files did not convert (interrupted ones included).
std::size_t runBatch(const std::vector<Job>& jobs, const ConvertSettings& settings, int parallel,
                     bool force, Reporter& reporter);

} // namespace convert
