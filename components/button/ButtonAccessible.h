// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What a screen reader learns of a skinned button: a push button named by its caption, with a
// press action, disabled and focusable like any other. Installed once, by the first button made.
#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// The accessibility factory for DappletButton; other classes get nothing from it.
QAccessibleInterface* DappletButtonAccessible(const QString& className, QObject* object);
