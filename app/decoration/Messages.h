// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The program's message boxes: fixed English texts under the program title "Quillory", errors
// with the critical icon and OK, questions with the question icon and Yes and No.
#pragma once

#include "platform/MessageBox.h"

#include <QString>

class QWidget;

inline const QString ProgramTitle = QStringLiteral("Quillory");

inline void ShowError(QWidget* owner, const QString& text) {
    platform::MsgBox(owner, {text, ProgramTitle, platform::MsgButtons::Ok,
                             platform::MsgIcon::Critical, platform::MsgAnswer::Ok});
}

inline void ShowWarning(QWidget* owner, const QString& text) {
    platform::MsgBox(owner, {text, ProgramTitle, platform::MsgButtons::Ok,
                             platform::MsgIcon::Exclamation, platform::MsgAnswer::Ok});
}

inline void ShowInformation(QWidget* owner, const QString& text) {
    platform::MsgBox(owner, {text, ProgramTitle, platform::MsgButtons::Ok,
                             platform::MsgIcon::Information, platform::MsgAnswer::Ok});
}

// True when the user answered Yes.
inline bool AskYesNo(QWidget* owner, const QString& text,
                     platform::MsgAnswer defaultAnswer = platform::MsgAnswer::Yes) {
    return platform::MsgBox(owner, {text, ProgramTitle, platform::MsgButtons::YesNo,
                                    platform::MsgIcon::Question, defaultAnswer}) ==
           platform::MsgAnswer::Yes;
}
