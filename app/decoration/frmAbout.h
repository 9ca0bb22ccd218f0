// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The About box: the program's icon, name and version, what it converts, and a link that opens
// the project's web page in the browser.
#pragma once

#include "app/decoration/Surface.h"
#include "components/button/SkinButton.h"

#include <QDialog>

class LinkLabel;

class frmAbout : public QDialog {
    Q_OBJECT
public:
    frmAbout(QWidget* owner, ButtonFactory makeButton);
    ~frmAbout() override;

    void OpenWebsite();

    const Surface& surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void createControls(const ButtonFactory& makeButton);

    Surface surface_;
    LinkLabel* lblWebsite_ = nullptr;
    SkinButton* cmdOK_ = nullptr;
};
