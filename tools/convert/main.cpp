// quillory-convert: converts MIDI files to WAV or MP3 and WAV files to MP3 in batches, with the
// program's settings and engines. Run it with --help for the options.
#include "platform/Files.h"
#include "platform/InstanceFolder.h"
#include "platform/dbus/DbusInhibitor.h"
#include "tools/convert/Batch.h"
#include "tools/convert/ConvertSettings.h"
#include "tools/convert/Interrupt.h"
#include "tools/convert/Options.h"
#include "tools/convert/Plan.h"
#include "tools/convert/Reporter.h"

#include <QCoreApplication>
#include <cstdio>
#include <thread>

namespace {

constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;

int usageError(const std::string& message) {
    std::fprintf(stderr, "quillory-convert: %s\nTry 'quillory-convert --help'.\n", message.c_str());
    return kExitUsage;
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
    const convert::Options& options = parsed.options;
    if (options.help) {
        std::fputs(convert::usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quillory-convert %s\n", QUILLORY_VERSION);
        return 0;
    }
    const convert::JobPlan plan = convert::planJobs(options);
    if (!plan.error.empty())
        return usageError(plan.error);
    const QString programFolder = platform::ProgramFolder();
    const convert::ResolvedSettings settings =
        convert::resolveSettings(options, convert::programSettingsFile(programFolder.toStdString()),
                                 programFolder.toStdString());
    if (!settings.error.empty())
        return usageError(settings.error);

    // Like a window of the program, the batch keeps its work files in a folder of its own.
    const platform::InstanceFolderClaim instanceFolder;
    convert::ConvertSettings batchSettings = settings.settings;
    batchSettings.workFolder = platform::ToFsPath(platform::InstanceFolder());
    convert::catchInterrupts();
    const int parallel =
        options.jobs > 0 ? options.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
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
    const std::size_t failed =
        convert::runBatch(plan.jobs, batchSettings, parallel, options.force, reporter);
    if (convert::interrupted())
        reporter.line("quillory-convert: interrupted");
    if (failed > 0 && plan.jobs.size() > 1)
        reporter.line(std::to_string(failed) + " of " + std::to_string(plan.jobs.size()) +
                      " files failed");
    return failed > 0 ? kExitFailures : 0;
}
