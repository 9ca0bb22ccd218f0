// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/LinkLabel.h"

#include "components/button/QueuedPressAccessible.h"

#include <QMouseEvent>

namespace {

class LinkAccessible final : public QueuedPressAccessible {
public:
    explicit LinkAccessible(LinkLabel* link)
        : QueuedPressAccessible(link, QAccessible::Link, [](QWidget* pressed) {
            emit static_cast<LinkLabel*>(pressed)->followed();
        }) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<LinkLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* linkAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(LinkLabel::staticMetaObject.className()))
        return nullptr;
    auto* link = qobject_cast<LinkLabel*>(object);
    return link ? new LinkAccessible(link) : nullptr;
}

} // namespace

LinkLabel::LinkLabel(const QString& text, QWidget* parent)
    : QLabel(parent) {
    static const bool accessible = (QAccessible::installFactory(linkAccessible), true);
    Q_UNUSED(accessible);
    setText(text);
    setCursor(Qt::PointingHandCursor);
}

// A label has no click of its own: a left-button release over the link counts as one.
void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit followed();
    else
        QLabel::mouseReleaseEvent(event);
}
