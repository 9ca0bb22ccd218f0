#include "gauge/AboutBox.h"

#include "gauge/Resources.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace gauge {

void ShowAboutBox(QWidget* parent) {
    QDialog box(parent);
    box.setWindowTitle(QStringLiteral("About Ombrel"));
    auto* icon = new QLabel;
    icon->setPixmap(QPixmap::fromImage(QImage::fromData(ToolboxBitmap(), "BMP")));
    auto* text = new QLabel(QStringLiteral("<b>Ombrel</b><br>%1<br>Version %2")
                                .arg(MetadataValue(QStringLiteral("Comments")),
                                     MetadataValue(QStringLiteral("FileVersion"))));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(row);
    layout->addWidget(buttons);
    box.exec();
}

} // namespace gauge
