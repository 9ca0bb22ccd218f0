// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The library's about box, shown by the gauge's About method.
#pragma once

class QWidget;

namespace gauge {

// Shows the about box as a modal window centred over the window that holds near (which may be
// null) and returns when the user closes it. near is only a place: the box belongs to no
// window, so the host may delete its windows while the box is open.
void ShowAboutBox(QWidget* near);

} // namespace gauge
