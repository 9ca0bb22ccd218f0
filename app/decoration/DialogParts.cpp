// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/DialogParts.h"

#include "app/decoration/Decoration.h"

#include <QComboBox>
#include <QDialog>
#include <QFontMetricsF>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionComboBox>

void SetUpDialogFrame(QDialog* dialog, const char* name, const QString& caption,
                      QSize clientTwips) {
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setWindowTitle(caption);
    dialog->setFixedSize(TwipsToPixels(clientTwips.width()), TwipsToPixels(clientTwips.height()));
}

QFont SansSerifFont(double points) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

QFont ArialFont(double points, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void SetTextColour(QWidget* widget, platform::OleColor colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, platform::ToQColor(colour));
    palette.setColor(QPalette::Text, platform::ToQColor(colour));
    widget->setPalette(palette);
}

void SetDisabledTextColour(QWidget* widget, platform::OleColor colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Disabled, QPalette::WindowText, platform::ToQColor(colour));
    widget->setPalette(palette);
}

QLabel* SetUpLabel(QLabel* label, const char* name, QRect geometry, const QFont& font) {
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setGeometry(geometry);
    return label;
}

QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, QRect geometry,
                   const QFont& font) {
    return SetUpLabel(new QLabel(text, parent), name, geometry, font);
}

QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, QPoint at,
                   const QFont& font) {
    QLabel* label = PlaceLabel(parent, name, text, QRect(at, QSize(1, 1)), font);
    label->adjustSize();
    return label;
}

SkinButton* PlaceButton(const ButtonFactory& makeButton, QWidget* parent, const char* name,
                        const QString& caption, QRect geometry) {
    SkinButton* button = makeButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setCaption(caption);
    button->setForeColor(ButtonTextBlue);
    button->setFont(SansSerifFont());
    button->setGeometry(geometry);
    return button;
}

void ForwardHoverToHighlight(SkinButton* button) {
    QObject::connect(button, &SkinButton::pointerEntered, button,
                     [button](int, int, int, int) { HighlightButton(button, 1); });
    QObject::connect(button, &SkinButton::pointerLeft, button,
                     [button](int, int, int, int) { HighlightButton(button, 0); });
}

void SetButtonEnabled(SkinButton* button, bool enabled) {
    button->setEnabled(enabled);
    button->setForeColor(enabled ? ButtonTextBlue : platform::ColourGreyText);
}

std::optional<QString> AskForFile(QWidget* owner, platform::FileDialogKind kind,
                                  const QString& filter, int flags,
                                  std::optional<DialogFolder> folder) {
    platform::CommonDialog dlgFile(owner);
    dlgFile.CancelError = true;
    dlgFile.Filter = filter;
    dlgFile.FileName.clear();
    dlgFile.Flags = flags;
    if (folder)
        dlgFile.InitDir = RememberedFolder(*folder);
    const int result =
        kind == platform::FileDialogKind::Open ? dlgFile.ShowOpen() : dlgFile.ShowSave();
    if (result == platform::CdlCancel)
        return std::nullopt;
    if (folder)
        RememberFolder(*folder, dlgFile.FileName);
    return dlgFile.FileName;
}

void NameFieldsByLabels(QWidget* window,
                        std::initializer_list<std::pair<const char*, const char*>> labelField) {
    for (const auto& [labelName, fieldName] : labelField) {
        auto* label = window->findChild<QLabel*>(QString::fromLatin1(labelName));
        auto* field = window->findChild<QWidget*>(QString::fromLatin1(fieldName));
        if (label && field)
            label->setBuddy(field);
    }
}

void DescribeByFrameCaption(QWidget* window, const char* captionLabel,
                            std::initializer_list<const char*> fields) {
    const auto* caption = window->findChild<QLabel*>(QString::fromLatin1(captionLabel));
    if (!caption)
        return;
    QString text = caption->text();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    for (const char* name : fields) {
        if (auto* field = window->findChild<QWidget*>(QString::fromLatin1(name)))
            field->setAccessibleDescription(text);
    }
}

void FitLabelsBeforeFields(QWidget* window,
                           std::initializer_list<std::pair<const char*, const char*>> labelField) {
    for (const auto& [labelName, fieldName] : labelField) {
        auto* label = window->findChild<QLabel*>(QString::fromLatin1(labelName));
        const auto* field = window->findChild<QWidget*>(QString::fromLatin1(fieldName));
        if (!label || !field || label->text().isEmpty())
            continue;
        QFont font = label->font();
        const QString text = label->text();
        const qreal room = field->x() - label->x() - LabelGapPixels;
        const qreal over = QFontMetricsF(font).horizontalAdvance(text) - room;
        if (over <= 0)
            continue;
        font.setLetterSpacing(QFont::AbsoluteSpacing, -over / text.size());
        label->setFont(font);
        label->adjustSize();
    }
}

void AlignLabelsWithLists(QWidget* window,
                          std::initializer_list<std::pair<const char*, const char*>> labelList) {
    for (const auto& [labelName, listName] : labelList) {
        auto* label = window->findChild<QLabel*>(QString::fromLatin1(labelName));
        const auto* list = window->findChild<QComboBox*>(QString::fromLatin1(listName));
        if (!label || !list)
            continue;
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.rect = QRect(QPoint(0, 0), list->size());
        option.frame = list->hasFrame();
        const QRect text = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                         QStyle::SC_ComboBoxEditField, list);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setGeometry(label->x(), list->y() + text.top(), label->width(), text.height());
    }
}
