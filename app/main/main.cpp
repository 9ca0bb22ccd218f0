// Quillory starts with its main window; closing that window ends the program.
#include "app/main/frmMain.h"
#include "components/button/DappletButton.h"
#include "components/encoder/LameMp3Encoder.h"
#include "components/renderer/SynthRenderer.h"
#include "platform/Files.h"
#include "platform/InstanceFolder.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillory"));
    // Clears what ended instances left behind and keeps this window's temporary files apart
    // from those of any other window or tool running at the same time.
    const platform::InstanceFolderClaim instanceFolder;
    MainWindowSetup setup;
    setup.programFolder = platform::ProgramFolder();
    setup.makeButton = [](QWidget* parent) -> SkinButton* { return new DappletButton(parent); };
    setup.makeRenderer = [](QObject* parent) -> Renderer* { return new SynthRenderer(parent); };
    setup.makeEncoder = [](QObject* parent) -> Mp3Encoder* { return new LameMp3Encoder(parent); };
    frmMain window(std::move(setup));
    window.show();
    return app.exec();
}
