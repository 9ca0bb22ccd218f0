// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The program icon, a quill writing a sound wave on the program's sky-blue gradient, drawn with
// a painter on a 48-unit grid, so it comes out sharp at any size: the window icon and the About
// box's picture at the screen's device pixel ratio, and the icons of the desktop's icon theme at
// build time (DrawIcon.cpp). The committed quillory.svg is the same drawing.
#pragma once

#include <QImage>

class QPainter;

// The grid the drawing is made on.
inline constexpr int IconGrid = 48;

// Draws the icon over the painter's square from (0, 0) to (IconGrid, IconGrid).
void DrawProgramIcon(QPainter& painter);
// The icon drawn at pixels x pixels, on a transparent background.
QImage ProgramIconImage(int pixels);
