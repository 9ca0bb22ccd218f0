#include "platform/Shell.h"

#include "platform/Replaceable.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#ifdef _WIN32
#include <shlwapi.h>
#include <windows.h>
#pragma comment(lib, "shlwapi")
#endif

namespace platform {

namespace {

// xdg-mime is a shell script that reads a few small files; a desktop that takes longer than
// this to answer is treated as having no answer.
constexpr int QueryTimeoutMs = 5000;

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

// Opening goes through the desktop's opener (xdg-open and the like), which chooses by type;
// starting the file itself would run an executable document instead of showing it.
bool openDocument(const QString& path) {
    if (!QFileInfo(path).isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

// Where xdg-open finds the entry an association names: in an applications folder or a folder
// below it, with a "vendor-" prefix also standing for a "vendor/" subfolder.
bool desktopEntryInstalled(const QString& entry) {
    if (entry.contains(QLatin1Char('/')))
        return QFileInfo(entry).isAbsolute() && QFileInfo(entry).isFile();
    QString vendorForm = entry;
    const qsizetype dash = vendorForm.indexOf(QLatin1Char('-'));
    if (dash > 0)
        vendorForm[dash] = QLatin1Char('/');
    const QStringList folders =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& folder : folders) {
        const QDir dir(folder);
        if (QFileInfo(dir.filePath(entry)).isFile() || QFileInfo(dir.filePath(vendorForm)).isFile())
            return true;
        QDirIterator nested(folder, {entry}, QDir::Files, QDirIterator::Subdirectories);
        if (nested.hasNext())
            return true;
    }
    return false;
}

#ifdef _WIN32
bool windowsHasViewerFor(const QString& document) {
    if (!QFileInfo(document).isFile())
        return false;
    const QString extension = QLatin1Char('.') + QFileInfo(document).suffix();
    DWORD size = 0;
    return AssocQueryStringW(ASSOCF_INIT_IGNOREUNKNOWN, ASSOCSTR_EXECUTABLE,
                             reinterpret_cast<LPCWSTR>(extension.utf16()), L"open", nullptr,
                             &size) == S_FALSE;
}
#endif

class RealShell final : public Shell {
public:
    bool execute(const ShellRequest& request) override {
        const QString program = request.file.trimmed().toLower();
        if (program == QLatin1String("sndvol32.exe"))
            return startMixer();
        if (program == QLatin1String("iexplore.exe"))
            return QDesktopServices::openUrl(QUrl(request.parameters.trimmed()));
        return openDocument(request.file);
    }

    bool hasViewerFor(const QString& document) override {
#if defined(_WIN32)
        return windowsHasViewerFor(document);
#elif defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
        return XdgHasViewerFor(document, &XdgDefaultApplication);
#else
        return QFileInfo(document).isFile();
#endif
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

bool ShellHasViewerFor(const QString& document) {
    return CurrentShell().hasViewerFor(document);
}

bool XdgHasViewerFor(const QString& document, const DefaultApplicationQuery& query) {
    if (!QFileInfo(document).isFile())
        return false;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(document);
    if (!type.isValid() || type.isDefault())
        return false;
    const QString entry = query(type.name()).trimmed();
    return !entry.isEmpty() && desktopEntryInstalled(entry);
}

QString XdgDefaultApplication(const QString& mimeType) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return QString();
    QProcess query;
    query.setStandardInputFile(QProcess::nullDevice());
    query.setStandardErrorFile(QProcess::nullDevice());
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), mimeType});
    if (!query.waitForFinished(QueryTimeoutMs)) {
        query.kill();
        query.waitForFinished();
        return QString();
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return QString();
    const QString answer = QString::fromLocal8Bit(query.readAllStandardOutput());
    return answer.section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace platform
