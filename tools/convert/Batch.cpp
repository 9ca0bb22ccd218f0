// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/Batch.h"

#include "platform/ThreadName.h"
#include "tools/convert/Interrupt.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace convert {

namespace {

// Each worker's songs may split over their share of the cores, rounded up so that none is left
// idle: the budget itself keeps the total to the cores, and a song that finds fewer free takes
// what there is.
ConvertSettings sharingCores(const ConvertSettings& settings, std::size_t workers) {
    ConvertSettings shared = settings;
    const unsigned total =
        quillory::renderer::ThreadBudget::givenOrShared(settings.threads).total();
    const auto share = unsigned(std::max<std::size_t>(workers, 1));
    shared.threadsPerSong = (total + share - 1) / share;
    return shared;
}

std::string timeoutMessage(double seconds) {
    return "stopped: took longer than --timeout " + readableDuration(seconds);
}

} // namespace

BatchCount runBatch(const std::vector<Job>& jobs, const ConvertSettings& settings, int parallel,
                    bool force, Reporter& reporter, JsonReport* report, const BatchRules& rules) {
    const std::size_t workers = std::min<std::size_t>(std::max(parallel, 1), jobs.size());
    const ConvertSettings shared = sharingCores(settings, workers);
    std::atomic<std::size_t> next{0};
    std::mutex countMutex;
    BatchCount count;
    const auto counted = [&](std::size_t BatchCount::*which) {
        const std::lock_guard lock(countMutex);
        ++(count.*which);
    };
    const auto work = [&] {
        Converter converter(shared, force, rules.resume);
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            if (interrupted()) {
                counted(&BatchCount::notStarted);
                reporter.notStarted(jobs[i]);
                if (report)
                    report->notStarted(jobs[i]);
                continue;
            }
            const Job& job = jobs[i];
            const auto start = std::chrono::steady_clock::now();
            const auto deadline =
                start + std::chrono::duration<double>(rules.timeout.value_or(1e9));
            bool late = false;
            int shown = -1;
            Outcome outcome = converter.convert(job, [&](int percent) {
                if (percent != shown)
                    reporter.progress(i, job, shown = percent);
                late = std::chrono::steady_clock::now() > deadline;
                return !interrupted() && !late;
            });
            if (outcome.skipped) {
                counted(&BatchCount::skipped);
                reporter.skipped(job, outcome.message);
                if (report)
                    report->skipped(job, outcome.message);
                continue;
            }
            if (late && outcome.interrupted) {
                outcome.interrupted = false;
                outcome.message = timeoutMessage(*rules.timeout);
            }
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            counted(outcome.interrupted ? &BatchCount::interrupted
                    : outcome.ok        ? &BatchCount::converted
                                        : &BatchCount::failed);
            reporter.finished(i, job, outcome, took.count());
            if (report)
                report->finished(job, outcome, took.count());
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t w = 1; w < workers; ++w)
        threads.emplace_back([&work] {
            platform::NameThisThread("quillory-song");
            work();
        });
    work();
    for (std::thread& thread : threads)
        thread.join();
    return count;
}

} // namespace convert
