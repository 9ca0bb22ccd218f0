// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

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

void ShowAboutBox(QWidget* near) {
    // No parent: a host window deleted while the box runs would delete it with its children,
    // and the box lives on this stack frame.
    QDialog box;
    box.setWindowModality(Qt::ApplicationModal);
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
    if (near) {
        box.adjustSize();
        box.move(near->window()->frameGeometry().center() - box.rect().center());
    }
    box.exec();
}

} // namespace gauge
