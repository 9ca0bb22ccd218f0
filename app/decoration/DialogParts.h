// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Building blocks the secondary windows share: the stored fonts, labels and skinned buttons
// placed from a twips layout, and the hover highlight every skinned button forwards.
#pragma once

#include "app/decoration/Twips.h"
#include "components/button/SkinButton.h"
#include "platform/Colour.h"

#include "app/shared/FolderMemory.h"
#include "platform/CommonDialog.h"

#include <QFont>
#include <QRect>
#include <QString>
#include <initializer_list>
#include <optional>
#include <utility>

class QDialog;
class QLabel;
class QWidget;

// A fixed dialog frame: title and close box only, no taskbar entry, centred on its owner.
inline constexpr Qt::WindowFlags FixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
    Qt::MSWindowsFixedSizeDialogHint;

// Names the dialog, sets its caption and gives it its stored client size.
void SetUpDialogFrame(QDialog* dialog, const char* name, const QString& caption, QSize clientTwips);

constexpr platform::OleColor ButtonTextBlue = 0xFF0000;

// MS Sans Serif where it exists, its metric stand-in elsewhere.
QFont SansSerifFont(double points = 8.25);
QFont ArialFont(double points, bool bold);

void SetTextColour(QWidget* widget, platform::OleColor colour);
// The style's grey for disabled text all but vanishes on the gradient's sky blue (about 1.2 to 1
// in contrast); a label that is switched off must still be read: this grey stands at 5 to 1 there.
constexpr platform::OleColor DisabledLabelText = 0x505050;
void SetDisabledTextColour(QWidget* widget, platform::OleColor colour);

constexpr QPoint TwipsPoint(int left, int top) {
    return QPoint(TwipsToPixels(left), TwipsToPixels(top));
}

// Gives a label made elsewhere its name, font, place and transparent background.
QLabel* SetUpLabel(QLabel* label, const char* name, QRect geometry, const QFont& font);
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

constexpr int OpenFileFlags = platform::OfnReadOnly | platform::OfnFileMustExist |
                              platform::OfnExplorer | platform::OfnLongNames;
constexpr int SaveFileFlags =
    platform::OfnOverwritePrompt | platform::OfnExplorer | platform::OfnLongNames;

// The common file dialog with an empty initial name; nothing when the user cancelled. With a
// folder kind, the dialog opens where that kind last chose a file, and remembers the new one.
std::optional<QString> AskForFile(QWidget* owner, platform::FileDialogKind kind,
                                  const QString& filter, int flags,
                                  std::optional<DialogFolder> folder = std::nullopt);

// Screen readers name each field by the label before it, as they do with a label's buddy.
void NameFieldsByLabels(QWidget* window,
                        std::initializer_list<std::pair<const char*, const char*>> labelField);
// The least room between a label and the field beside it: the stored layout's narrowest.
constexpr int LabelGapPixels = 3;
// A label whose text would come nearer the field beside it than that is set a little tighter,
// measured with its font's metrics: the stored layout leaves room for the narrower face it was
// made with.
void FitLabelsBeforeFields(QWidget* window,
                           std::initializer_list<std::pair<const char*, const char*>> labelField);
// A label beside a drop-down list stands as tall as the list's text and centres its own text
// the same way, so both stand on one baseline: the stored layout puts the label's top at the
// list's top, which leaves its text above the list's.
void AlignLabelsWithLists(QWidget* window,
                          std::initializer_list<std::pair<const char*, const char*>> labelList);

// The controls inside a painted frame carry the frame's caption as their description, which
// screen readers read after the name: a frame drawn on the window is no object of its own.
void DescribeByFrameCaption(QWidget* window, const char* captionLabel,
                            std::initializer_list<const char*> fields);
