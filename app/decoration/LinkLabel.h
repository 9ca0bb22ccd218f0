// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A label that is a link: a left click over it follows it, and a screen reader finds a link named
// by its text, with a press action that follows it too.
#pragma once

#include <QLabel>

class LinkLabel final : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, QWidget* parent);

signals:
    void followed();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
