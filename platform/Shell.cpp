#include "platform/Shell.h"

#include "platform/Replaceable.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {

namespace {

struct Mixer {
    const char* program;
    QStringList recordingPage;
};

// The recording page of the volume control maps to the input-device page where a mixer has one.
bool startMixer() {
    const Mixer mixers[] = {
        {"pavucontrol", {QStringLiteral("--tab=4")}},
        {"pavucontrol-qt", {}},
        {"gnome-control-center", {QStringLiteral("sound")}},
        {"xfce4-mixer", {}},
        {"kmix", {}},
    };
    for (const Mixer& mixer : mixers) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(mixer.program));
        if (!path.isEmpty() && QProcess::startDetached(path, mixer.recordingPage))
            return true;
    }
    return false;
}

class RealShell final : public Shell {
public:
    bool execute(const ShellRequest& request) override {
        const QString program = request.file.trimmed().toLower();
        if (program == QLatin1String("sndvol32.exe"))
            return startMixer();
        if (program == QLatin1String("iexplore.exe"))
            return QDesktopServices::openUrl(QUrl(request.parameters.trimmed()));
        if (QFileInfo(request.file).isFile() && !QFileInfo(request.file).isExecutable())
            return QDesktopServices::openUrl(QUrl::fromLocalFile(request.file));
        return QProcess::startDetached(request.file, QProcess::splitCommand(request.parameters),
                                       request.directory);
    }
};

} // namespace

Shell& CurrentShell() {
    return Replaceable<Shell, RealShell>::current();
}

void SetShell(Shell* shell) {
    Replaceable<Shell, RealShell>::install(shell);
}

bool ShellExecute(const QString& operation, const QString& file, const QString& parameters,
                  const QString& directory) {
    return CurrentShell().execute({operation, file, parameters, directory});
}

} // namespace platform
