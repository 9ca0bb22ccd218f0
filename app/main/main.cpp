// Quillory starts with its main window; closing that window ends the program.
#include "app/main/frmMain.h"
#include "components/button/DappletButton.h"
#include "components/encoder/LameMp3Encoder.h"
#include "components/renderer/SynthRenderer.h"
#include "platform/Files.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillory"));
    MainWindowSetup setup;
    setup.programFolder = platform::ProgramFolder();
    setup.makeButton = [](QWidget* parent) -> SkinButton* { return new DappletButton(parent); };
    setup.makeRenderer = [](QObject* parent) -> Renderer* { return new SynthRenderer(parent); };
    setup.makeEncoder = [](QObject* parent) -> Mp3Encoder* { return new LameMp3Encoder(parent); };
    frmMain window(std::move(setup));
    window.show();
    return app.exec();
}
