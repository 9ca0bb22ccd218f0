// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/ProductInfo.h"

#include "app/decoration/IconDrawing.h"

#include <QIconEngine>
#include <QPainter>

namespace {

class ProgramIconEngine final : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / double(IconGrid), rect.height() / double(IconGrid));
        DrawProgramIcon(*painter);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        return QPixmap::fromImage(ProgramIconImage(std::min(size.width(), size.height())));
    }
    QIconEngine* clone() const override { return new ProgramIconEngine; }
    QString key() const override { return QStringLiteral("quillory"); }
    // The sizes a window system asks for; the drawing serves any other just as well.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {QSize(16, 16), QSize(24, 24),   QSize(32, 32),  QSize(48, 48),
                QSize(64, 64), QSize(128, 128), QSize(256, 256)};
    }
};

} // namespace

QIcon ProgramIcon() {
    return QIcon(new ProgramIconEngine);
}

QPixmap ProgramIconPixmap(qreal devicePixelRatio) {
    return ProgramIcon().pixmap(QSize(IconGrid, IconGrid), devicePixelRatio);
}
