// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/Shell.h"

#include "platform/Replaceable.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

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
// xdg-open fails within a second when nothing opens the document. Where it runs the viewer
// itself (on a desktop it does not know) it only returns when the viewer closes; by then the
// document has long been shown, so after this long it counts as opened.
constexpr int OpenerPatienceMs = 5000;

const QString NoApplication = QStringLiteral("no application on this computer opens it");

struct Mixer {
    const char* program;
    QStringList recordingPage;
};

// The recording page of the volume control maps to the input-device page where a mixer has one.
// Empty when one started, otherwise why none did.
QString startMixer() {
    const Mixer mixers[] = {
        {"pavucontrol", {QStringLiteral("--tab=4")}},
        {"pavucontrol-qt", {}},
        {"gnome-control-center", {QStringLiteral("sound")}},
        {"xfce4-mixer", {}},
        {"kmix", {}},
    };
    QStringList names;
    for (const Mixer& mixer : mixers) {
        names << QString::fromLatin1(mixer.program);
        const QString path = QStandardPaths::findExecutable(names.back());
        if (!path.isEmpty() && QProcess::startDetached(path, mixer.recordingPage))
            return QString();
    }
    const QString last = names.takeLast();
    return QStringLiteral("none of ") + names.join(QStringLiteral(", ")) + QStringLiteral(" or ") +
           last + QStringLiteral(" could be started");
}

// What xdg-open's exit status says went wrong.
QString openerFailure(int exitCode, QProcess::ExitStatus status) {
    if (status != QProcess::NormalExit)
        return QStringLiteral("the desktop's opener xdg-open crashed");
    switch (exitCode) {
    case 0:
        return QString();
    case 2:
        return QStringLiteral("the file does not exist");
    case 3:
        return NoApplication;
    default:
        return QStringLiteral("the desktop's opener xdg-open failed (exit status ") +
               QString::number(exitCode) + QLatin1Char(')');
    }
}

// Runs xdg-open and answers with its failure, or with success once it has run for a while.
// The process is not tied to any window: a viewer it runs keeps running when the window goes.
void watchOpener(const QString& opener, const QString& target, const ShellDone& done) {
    auto* process = new QProcess;
    process->setProgram(opener);
    process->setArguments({target});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    auto answered = std::make_shared<bool>(false);
    auto answer = [done, answered](const QString& failure) {
        if (!std::exchange(*answered, true))
            done(failure);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, answer](int exitCode, QProcess::ExitStatus status) {
                         answer(openerFailure(exitCode, status));
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, answer](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         answer(QStringLiteral("the desktop's opener xdg-open could not be run"));
                         process->deleteLater();
                     });
    QTimer::singleShot(OpenerPatienceMs, process, [answer] { answer(QString()); });
    process->start();
}

// Hands a document or a web address to the desktop's opener, which chooses the application.
void openWithDesktop(const QUrl& url, const ShellDone& done) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) {
        watchOpener(opener, url.isLocalFile() ? url.toLocalFile() : url.toString(), done);
        return;
    }
    // Qt tries the browsers it knows of itself.
    if (!QDesktopServices::openUrl(url))
        done(NoApplication + QStringLiteral(" (xdg-open, of the package xdg-utils, is missing)"));
    else
        done(QString());
#else
    done(QDesktopServices::openUrl(url) ? QString() : NoApplication);
#endif
}

// Opening goes through the desktop's opener, which chooses by type; starting the file itself
// would run an executable document instead of showing it.
void openDocument(const QString& path, const ShellDone& done) {
    if (!QFileInfo(path).isFile()) {
        done(QStringLiteral("the file does not exist"));
        return;
    }
    openWithDesktop(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()), done);
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
    void execute(const ShellRequest& request, ShellDone done) override {
        const QString program = request.file.trimmed().toLower();
        if (program == QLatin1String("sndvol32.exe"))
            done(startMixer());
        else if (program == QLatin1String("iexplore.exe"))
            openWithDesktop(QUrl(request.parameters.trimmed()), done);
        else
            openDocument(request.file, done);
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

void ShellExecute(const QString& operation, const QString& file, const QString& parameters,
                  const QString& directory, QObject* context, ShellDone done) {
    const QPointer<QObject> guard(context);
    CurrentShell().execute({operation, file, parameters, directory},
                           [guard, done = std::move(done)](const QString& failure) {
                               if (guard && done)
                                   done(failure);
                           });
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
