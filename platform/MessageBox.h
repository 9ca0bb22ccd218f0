// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Message boxes behind a replaceable seam, so window tests can read and answer them.
#pragma once

#include <QString>

class QWidget;

namespace platform {

enum class MsgIcon { Critical, Question, Exclamation, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

struct MessageRequest {
    QString text;
    QString caption;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::Critical;
    MsgAnswer defaultAnswer = MsgAnswer::Ok;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual MsgAnswer show(QWidget* owner, const MessageRequest& request) = 0;
};

// The boxes in use: real QMessageBoxes unless a test installed its own.
MessageBoxes& CurrentMessageBoxes();
// Installs replacement boxes (nullptr restores the real ones); the caller keeps ownership.
void SetMessageBoxes(MessageBoxes* boxes);

MsgAnswer MsgBox(QWidget* owner, const MessageRequest& request);

} // namespace platform
