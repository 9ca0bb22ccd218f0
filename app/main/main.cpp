// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Quillory starts with its main window; closing that window ends the program. A file named on
// the command line (a file manager's "Open with Quillory") is opened as a dropped one is.
#include "app/main/frmMain.h"
#include "components/button/DappletButton.h"
#include "components/encoder/LameMp3Encoder.h"
#include "components/renderer/SynthRenderer.h"
#include "platform/Files.h"
#include "platform/InstanceFolder.h"
#include "platform/dbus/DbusInhibitor.h"
#include "platform/dbus/DbusNotifier.h"

#include <QApplication>
#include <QDir>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillory"));
    QApplication::setDesktopFileName(QStringLiteral("quillory"));
    // Clears what ended instances left behind and keeps this window's temporary files apart
    // from those of any other window or tool running at the same time.
    const platform::InstanceFolderClaim instanceFolder;
    platform::dbus::DbusNotifier notifier;
    platform::SetNotifier(&notifier);
    using platform::dbus::HoldVia;
    platform::dbus::DbusInhibitor inhibitor(
        QStringLiteral("Quillory"), {HoldVia::Portal, HoldVia::Login1, HoldVia::ScreenSaver});
    platform::SetSleepInhibitor(&inhibitor);

    MainWindowSetup setup;
    setup.programFolder = platform::ProgramFolder();
    setup.makeButton = [](QWidget* parent) -> SkinButton* { return new DappletButton(parent); };
    setup.makeRenderer = [](QObject* parent) -> Renderer* { return new SynthRenderer(parent); };
    setup.makeEncoder = [](QObject* parent) -> Mp3Encoder* { return new LameMp3Encoder(parent); };
    setup.userAway = [] { return QGuiApplication::applicationState() != Qt::ApplicationActive; };
    frmMain window(std::move(setup));
    window.show();
    const QStringList files = QApplication::arguments().mid(1);
    if (!files.isEmpty())
        window.openFile(QDir::current().absoluteFilePath(files.constFirst()));
    const int status = app.exec();
    platform::SetSleepInhibitor(nullptr);
    platform::SetNotifier(nullptr);
    return status;
}
