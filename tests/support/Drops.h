// Files dragged from a file manager onto a window, as Qt delivers them.
#pragma once

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <memory>

inline std::unique_ptr<QMimeData> DraggedFilesData(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

// Whether the window shows the drop cursor when the files come over it.
inline bool AcceptsDrag(QWidget* window, const QStringList& paths) {
    const auto data = DraggedFilesData(paths);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, data.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    return enter.isAccepted();
}

// Drags the files over the window, drops them, and lets the window take them.
inline void Drop(QWidget* window, const QStringList& paths) {
    AcceptsDrag(window, paths);
    const auto data = DraggedFilesData(paths);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
    QCoreApplication::processEvents();
}
