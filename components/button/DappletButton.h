// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The skinned command button: a painted push button with a soft blue face, a hover style and
// pointer notifications that also arrive while the button is disabled. Screen readers see it as
// a push button named by its caption (ButtonAccessible).
#pragma once

#include "components/button/SkinButton.h"

class DappletButton final : public SkinButton {
    Q_OBJECT
public:
    explicit DappletButton(QWidget* parent = nullptr);

    void setCaption(const QString& caption) override;
    QString caption() const override { return caption_; }
    void setForeColor(std::uint32_t colour) override;
    std::uint32_t foreColor() const override { return foreColor_; }
    void setButtonStyle(int style) override;
    int buttonStyle() const override { return style_; }
    std::uint32_t accentColor() const override;
    // A click that asks for no pointer or key: what a screen reader's press does.
    void press();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString caption_;
    std::uint32_t foreColor_ = 0xFF0000;
    int style_ = 0;
    bool pressed_ = false;
};
