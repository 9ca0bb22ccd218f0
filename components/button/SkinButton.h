// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The skinned command button every window uses: caption, text colour, a hover style,
// an accent colour, clicks, and a pair of pointer notifications.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

class SkinButton : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    ~SkinButton() override = default;

    virtual void setCaption(const QString& caption) = 0;
    virtual QString caption() const = 0;
    // 0x00BBGGRR, or 0x80000000 + n for system colour n.
    virtual void setForeColor(std::uint32_t colour) = 0;
    virtual std::uint32_t foreColor() const = 0;
    virtual void setButtonStyle(int style) = 0; // 0 normal, 3 highlighted
    virtual int buttonStyle() const = 0;
    virtual std::uint32_t accentColor() const = 0;

signals:
    void clicked();
    // The four values are mouse button, shift state, x and y, as the pointer came or went.
    void pointerEntered(int button, int shift, int x, int y);
    void pointerLeft(int button, int shift, int x, int y);
};

// How windows make their buttons: the real skinned button in the program, anything in tests.
using ButtonFactory = std::function<SkinButton*(QWidget* parent)>;
