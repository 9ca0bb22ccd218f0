// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Files dragged from a file manager over a window, and dropped there, as Qt delivers them.
#pragma once

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

// Whether the window shows the drop cursor; when it does and drop is set, the files are dropped
// and the window takes them.
inline bool DragFiles(QWidget* window, const QStringList& paths, bool drop = true) {
    QMimeData data;
    for (const QString& path : paths)
        data.setUrls(data.urls() << QUrl::fromLocalFile(path));
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    if (drop && enter.isAccepted()) {
        QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &dropped);
        QCoreApplication::processEvents();
    }
    return enter.isAccepted();
}
