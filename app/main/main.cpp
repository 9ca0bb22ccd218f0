// Quillory starts with its main window; closing that window ends the program.
#include "app/main/frmMain.h"
#include "components/button/DappletButton.h"
#include "platform/Files.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillory"));
    MainWindowSetup setup;
    setup.programFolder = platform::ProgramFolder();
    setup.makeButton = [](QWidget* parent) -> SkinButton* { return new DappletButton(parent); };
    frmMain window(std::move(setup));
    window.show();
    return app.exec();
}
