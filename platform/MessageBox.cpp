// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/MessageBox.h"

#include "platform/Replaceable.h"

#include <QMessageBox>

namespace platform {

namespace {

class RealMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer show(QWidget* owner, const MessageRequest& request) override {
        // Texts break lines the Windows way; Qt draws a lone CR as a glyph.
        QString text = request.text;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        QMessageBox box(icon(request.icon), request.caption, text, QMessageBox::NoButton, owner);
        box.setTextFormat(Qt::PlainText);
        if (request.buttons == MsgButtons::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(request.defaultAnswer == MsgAnswer::No ? QMessageBox::No
                                                                        : QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        const int result = box.exec();
        if (request.buttons == MsgButtons::Ok)
            return MsgAnswer::Ok;
        return result == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }

private:
    static QMessageBox::Icon icon(MsgIcon icon) {
        switch (icon) {
        case MsgIcon::Critical:
            return QMessageBox::Critical;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Information:
            return QMessageBox::Information;
        }
        return QMessageBox::NoIcon;
    }
};

} // namespace

MessageBoxes& CurrentMessageBoxes() {
    return Replaceable<MessageBoxes, RealMessageBoxes>::current();
}

void SetMessageBoxes(MessageBoxes* boxes) {
    Replaceable<MessageBoxes, RealMessageBoxes>::install(boxes);
}

MsgAnswer MsgBox(QWidget* owner, const MessageRequest& request) {
    return CurrentMessageBoxes().show(owner, request);
}

} // namespace platform
