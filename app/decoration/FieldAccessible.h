// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What a screen reader learns of the program's windows where Qt's own description misleads it:
// - a main window made from a plain widget is a frame, as any application window is, not a
//   filler;
// - a drop-down list is named by its label (its accessible name, else the label's words without
//   the closing colon), not by the item it shows, which is its value and stays the selected item
//   of the list that drops down;
// - a read-only text field offers its text to read but no way to edit it (Qt's line edit lets a
//   reader replace the text even of a read-only field), and of its children only those shown.
//   Qt describes a widget once, at its first change: a field is made read-only before anything
//   else is set on it.
#pragma once

// Installs the accessibility factory for these, once, before the first window is made: Qt
// describes a widget as soon as it changes, before it is complete.
void UseFieldAccessibility();
