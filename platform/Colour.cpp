// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// System colours of the Windows palette mapped onto the roles of the application's palette.
#include "platform/Colour.h"

#include <QGuiApplication>
#include <QPalette>

namespace platform {

namespace {

QColor systemColour(unsigned index) {
    const QPalette palette = QGuiApplication::palette();
    switch (index) {
    case 0x05: // window background
        return palette.color(QPalette::Base);
    case 0x06: // window frame
        return palette.color(QPalette::Shadow);
    case 0x08: // window text
        return palette.color(QPalette::WindowText);
    case 0x0D: // highlight
        return palette.color(QPalette::Highlight);
    case 0x0E: // highlighted text
        return palette.color(QPalette::HighlightedText);
    case 0x0F: // button face
        return palette.color(QPalette::Button);
    case 0x10: // button shadow
        return palette.color(QPalette::Dark);
    case 0x11: // grey (disabled) text
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    case 0x12: // button text
        return palette.color(QPalette::ButtonText);
    case 0x14: // button highlight
        return palette.color(QPalette::Light);
    case 0x17: // tooltip text
        return palette.color(QPalette::ToolTipText);
    case 0x18: // tooltip background
        return palette.color(QPalette::ToolTipBase);
    default:
        return palette.color(QPalette::Window);
    }
}

} // namespace

QColor ToQColor(OleColor colour) {
    if (colour & SystemColourFlag)
        return systemColour(colour & 0xFFu);
    return QColor(RedOf(colour), GreenOf(colour), BlueOf(colour));
}

} // namespace platform
