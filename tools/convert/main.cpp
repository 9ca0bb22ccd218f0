// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// quillory-convert: converts MIDI and WAV files to WAV, FLAC, Ogg Vorbis, Opus or MP3 in batches,
// with the program's settings and engines. Run it with --help for the options.
#include "components/conversion/AbortList.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/InstanceFolder.h"
#include "platform/ShownName.h"
#include "platform/dbus/DbusInhibitor.h"
#include "tools/convert/Batch.h"
#include "tools/convert/ConvertSettings.h"
#include "tools/convert/InputList.h"
#include "tools/convert/Interrupt.h"
#include "tools/convert/JsonReport.h"
#include "tools/convert/Options.h"
#include "tools/convert/Plan.h"
#include "tools/convert/Reporter.h"
#include "tools/convert/StandardStreams.h"

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>

namespace {

constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;

int usageError(const std::string& message) {
    std::fprintf(stderr, "quillory-convert: %s\nTry 'quillory-convert --help'.\n",
                 platform::TerminalSafe(message).c_str());
    return kExitUsage;
}

// --output-dir is made with its parents, as mkdir -p makes it, once nothing else is wrong.
std::string makeOutputFolder(const convert::Options& options) {
    if (!options.outputDir)
        return {};
    std::error_code ec;
    std::filesystem::create_directories(*options.outputDir, ec);
    if (!ec)
        return {};
    return "cannot create the output folder " + platform::Quoted(*options.outputDir) + ": " +
           ec.message();
}

// Like a window of the program, the batch keeps its work files in a folder of its own, which it
// removes when it ends; a second interrupt removes it too.
convert::BatchCount convertAll(const convert::Options& options, const convert::JobPlan& plan,
                               convert::ConvertSettings settings, convert::JsonReport* report,
                               const convert::Resume* resume) {
    const platform::InstanceFolderClaim instanceFolder;
    const QString folder = platform::InstanceFolder();
    settings.workFolder = platform::ToFsPath(folder);
    std::optional<quillory::conversion::RemovedOnAbort> ownFolder;
    if (folder != platform::WorkFolder())
        ownFolder.emplace(settings.workFolder);
    const int parallel = options.jobs > 0 ? options.jobs : convert::defaultJobs();
    convert::Reporter reporter(stderr, convert::stderrIsTerminal(), options.quiet,
                               plan.jobs.size());
    // A long batch must not end in a suspended machine. Without a desktop's portal the hold is
    // taken from logind, or from the session's screen saver.
    using platform::dbus::HoldVia;
    platform::dbus::DbusInhibitor inhibitor(QStringLiteral("quillory-convert"),
                                            {HoldVia::Login1, HoldVia::ScreenSaver});
    const auto awake = inhibitor.inhibit(
        plan.jobs.size() == 1 ? QStringLiteral("Converting a file")
                              : QStringLiteral("Converting %1 files").arg(plan.jobs.size()));
    const auto start = std::chrono::steady_clock::now();
    const convert::BatchCount count =
        convert::runBatch(plan.jobs, settings, parallel, options.force, reporter, report,
                          {.resume = resume, .timeout = options.timeout});
    if (convert::interrupted())
        reporter.line("quillory-convert: interrupted");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    reporter.summary(count, took.count());
    return count;
}

// What every line of the report shares.
convert::RunFacts runFacts(const convert::JobPlan& plan, const convert::ConvertSettings& settings) {
    convert::RunFacts facts{
        convert::settingsObject(settings), {}, convert::versionsObject(QUILLORY_VERSION)};
    const bool midi = std::any_of(plan.jobs.begin(), plan.jobs.end(), [](const convert::Job& job) {
        return job.from == convert::InputType::Midi;
    });
    if (midi && !settings.soundFonts.empty())
        facts.soundFonts = convert::soundFontObjects(settings.soundFonts);
    return facts;
}

// The inputs of the command line and of --files-from, planned, and the shard's part of them.
convert::JobPlan planCollection(convert::Options& options,
                                const convert::StandardInput* standardInput) {
    if (std::string failed = convert::gatherInputs(options); !failed.empty())
        return {{}, std::move(failed)};
    convert::JobPlan plan = convert::planJobs(
        options, standardInput ? standardInput->type() : std::optional<convert::InputType>());
    if (plan.error.empty() && options.shard)
        plan.jobs = convert::shardOf(std::move(plan.jobs), *options.shard);
    return plan;
}

} // namespace

int main(int argc, char** argv) {
    // Only for the program folder, which is where the program's own settings live.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillory-convert"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORY_VERSION));
    const convert::ParsedArguments parsed =
        convert::parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty())
        return usageError(parsed.error);
    convert::Options options = parsed.options;
    if (options.help) {
        std::fputs(convert::usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quillory-convert %s\n", QUILLORY_VERSION);
        return 0;
    }
    // The input "-": its first bytes say whether it is MIDI or WAV, which the plan needs.
    std::shared_ptr<convert::StandardInput> standardInput;
    if (std::any_of(options.inputs.begin(), options.inputs.end(), convert::isStandardStream)) {
        standardInput = std::make_shared<convert::StandardInput>(fileno(stdin));
        if (!standardInput->error().empty())
            return usageError(standardInput->error());
    }
    const convert::JobPlan plan = planCollection(options, standardInput.get());
    if (!plan.error.empty())
        return usageError(plan.error);
    // From here on, standard output carries the audio of -o - alone.
    int standardOutput = -1;
    if (options.output && convert::isStandardStream(*options.output)) {
        platform::IgnoreBrokenPipe();
        standardOutput = platform::SetAsideStdout();
        if (standardOutput < 0) {
            std::fprintf(stderr,
                         "quillory-convert: cannot keep standard output for the audio: %s\n",
                         std::strerror(errno));
            return kExitFailures;
        }
    }
    const QString programFolder = platform::ProgramFolder();
    convert::ResolvedSettings settings =
        convert::resolveSettings(options, convert::programSettingsFile(programFolder.toStdString()),
                                 programFolder.toStdString());
    if (!settings.error.empty())
        return usageError(settings.error);
    settings.settings.standardInput = standardInput;
    settings.settings.standardOutput = standardOutput;
    if (const std::string failed = makeOutputFolder(options); !failed.empty()) {
        std::fprintf(stderr, "quillory-convert: %s\n", platform::TerminalSafe(failed).c_str());
        return kExitFailures;
    }
    // After the output folder, where a report is often kept; before anything is converted, so
    // that a report that cannot be written is a usage error and no file is converted without it.
    // What earlier runs reported is read first, for --resume, which then adds to it.
    convert::RunFacts facts =
        options.report ? runFacts(plan, settings.settings) : convert::RunFacts{};
    std::optional<convert::Resume> resume;
    if (options.resume)
        resume.emplace(facts.settings, facts.soundFonts,
                       options.report && *options.report != "-" ? *options.report
                                                                : std::filesystem::path());
    std::string reportError;
    std::unique_ptr<convert::JsonReport> report;
    if (options.report) {
        report = convert::JsonReport::open(*options.report, std::move(facts), reportError,
                                           options.resume);
        if (!report)
            return usageError(reportError);
    }

    convert::catchInterrupts();
    const convert::BatchCount count =
        convertAll(options, plan, settings.settings, report.get(), resume ? &*resume : nullptr);
    if (convert::interrupted())
        convert::endAsInterrupted();
    // The conversions stand, but a record that misses lines is no success.
    if (const std::string failed = report ? report->failure() : ""; !failed.empty()) {
        std::fprintf(stderr, "quillory-convert: %s\n", platform::TerminalSafe(failed).c_str());
        return kExitFailures;
    }
    return count.failed > 0 ? kExitFailures : 0;
}
