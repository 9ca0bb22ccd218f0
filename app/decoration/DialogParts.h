// Building blocks the secondary windows share: the stored fonts, labels and skinned buttons
// placed from a twips layout, and the hover highlight every skinned button forwards.
#pragma once

#include "app/decoration/SkinButton.h"
#include "app/decoration/Twips.h"
#include "platform/Colour.h"

#include <QFont>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

constexpr platform::OleColor ButtonTextBlue = 0xFF0000;

// MS Sans Serif where it exists, its metric stand-in elsewhere.
QFont SansSerifFont(double points = 8.25);
QFont ArialFont(double points, bool bold);

void SetTextColour(QWidget* widget, platform::OleColor colour);

constexpr QPoint TwipsPoint(int left, int top) {
    return QPoint(TwipsToPixels(left), TwipsToPixels(top));
}

// A transparent label at a pixel rectangle.
QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, QRect geometry,
                   const QFont& font);
// One that sizes itself to its text: the stored sizes fit a narrower font than ours.
QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, QPoint at,
                   const QFont& font);

// A skinned button with the stored look: blue caption in the sans-serif font.
SkinButton* PlaceButton(const ButtonFactory& makeButton, QWidget* parent, const char* name,
                        const QString& caption, QRect geometry);

// The pointer coming over the button highlights it, leaving restores it.
void ForwardHoverToHighlight(SkinButton* button);

// A disabled button shows grey text; enabling it brings back the blue.
void SetButtonEnabled(SkinButton* button, bool enabled);
