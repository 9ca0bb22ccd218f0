// Facts about the product that more than one place shows: its web page and its icon.
#pragma once

#include <QIcon>
#include <QPixmap>

// The project's own page; the About box shows it and opens it in the browser.
inline constexpr char ProductWebsite[] = "https://quillory.org/";

// The 48 x 48 program icon: the About box's picture, every window's icon, and the icon
// installed beside quillory.desktop.
QPixmap ProgramIconPixmap();
QIcon ProgramIcon();
