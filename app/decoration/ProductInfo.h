// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Facts about the product that more than one place shows: its web page and its icon.
#pragma once

#include <QIcon>
#include <QPixmap>

// The project's own page; the About box shows it and opens it in the browser.
inline constexpr char ProductWebsite[] = "https://quillory.org/";

// The program icon, drawn afresh at whatever size is asked, so it stays sharp on a screen of
// any pixel density: every window's icon.
QIcon ProgramIcon();
// The 48 x 48 icon for a screen of devicePixelRatio device pixels to a pixel: the About box's
// picture.
QPixmap ProgramIconPixmap(qreal devicePixelRatio);
