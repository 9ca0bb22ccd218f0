// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What a screen reader learns of an option button that the window keeps exclusive itself (so
// that both can be cleared, as a target without a known extension does): an option button, not
// the check box Qt would take a radio button without automatic exclusivity for.
#pragma once

// Installs the accessibility factory for the program's option buttons, once, before the first
// is made: Qt describes a button as soon as its text is set, before it can be told apart.
void UseOptionButtonAccessibility();
