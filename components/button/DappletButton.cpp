// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "components/button/DappletButton.h"

#include "components/button/ButtonAccessible.h"
#include "platform/Colour.h"

#include <QAccessible>

#include <QEnterEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {

// Frames of the button face, and the accent the windows copy for their own frames.
constexpr std::uint32_t Accent = 0xC08040; // 0x00BBGGRR: a mid blue
constexpr std::uint32_t HotAccent = 0xFF9933;

QColor mixed(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

} // namespace

DappletButton::DappletButton(QWidget* parent)
    : SkinButton(parent) {
    static const bool accessible = (QAccessible::installFactory(DappletButtonAccessible), true);
    Q_UNUSED(accessible);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    QFont face(QStringLiteral("MS Sans Serif"));
    face.setPointSizeF(8.25);
    face.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial")});
    face.setStyleHint(QFont::SansSerif);
    setFont(face);
}

void DappletButton::setCaption(const QString& caption) {
    if (caption == caption_)
        return;
    caption_ = caption;
    update();
    // A reader on Convert hears it become Stop.
    QAccessibleEvent named(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
}

void DappletButton::press() {
    if (isEnabled())
        emit clicked();
}

void DappletButton::setForeColor(std::uint32_t colour) {
    foreColor_ = colour;
    update();
}

void DappletButton::setButtonStyle(int style) {
    style_ = style;
    update();
}

std::uint32_t DappletButton::accentColor() const {
    return Accent;
}

QSize DappletButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(caption_) + 24, metrics.height() + 10);
}

void DappletButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool hot = style_ == 3 && isEnabled();
    const QColor top = hot ? QColor(255, 255, 255) : QColor(250, 252, 255);
    const QColor bottom = hot ? QColor(200, 228, 255) : QColor(214, 230, 248);
    QLinearGradient fill(face.topLeft(), face.bottomLeft());
    fill.setColorAt(0.0, pressed_ ? bottom : top);
    fill.setColorAt(1.0, pressed_ ? top : bottom);
    const QColor accent = platform::ToQColor(hot ? HotAccent : Accent);
    painter.setPen(QPen(isEnabled() ? accent : mixed(accent, Qt::white, 0.5), 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(face, 3, 3);

    painter.setPen(platform::ToQColor(foreColor_));
    painter.setFont(font());
    const QRect text = rect().translated(pressed_ ? 1 : 0, pressed_ ? 1 : 0);
    painter.drawText(text, Qt::AlignCenter | Qt::TextShowMnemonic, caption_);
    if (hasFocus()) {
        painter.setPen(QPen(mixed(accent, Qt::black, 0.2), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(face.adjusted(3, 3, -3, -3), 2, 2);
    }
}

void DappletButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    pressed_ = true;
    update();
}

void DappletButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    update();
    if (isEnabled() && rect().contains(event->position().toPoint()))
        emit clicked();
}

// A held key repeats its press; like a standard push button, only the first one clicks, so
// holding Space on Convert does not start and stop the run over and over.
void DappletButton::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (isEnabled() && !event->isAutoRepeat())
            emit clicked();
        return;
    }
    SkinButton::keyPressEvent(event);
}

void DappletButton::enterEvent(QEnterEvent* event) {
    const QPoint at = event->position().toPoint();
    emit pointerEntered(int(event->buttons()), int(event->modifiers()), at.x(), at.y());
}

void DappletButton::leaveEvent(QEvent*) {
    const QPoint at = mapFromGlobal(QCursor::pos());
    emit pointerLeft(0, 0, at.x(), at.y());
}

void DappletButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        pressed_ = false;
        update();
    }
    SkinButton::changeEvent(event);
}
