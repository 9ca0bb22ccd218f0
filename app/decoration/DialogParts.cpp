#include "app/decoration/DialogParts.h"

#include "app/decoration/Decoration.h"

#include <QDialog>
#include <QLabel>

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

QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, QRect geometry,
                   const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setGeometry(geometry);
    return label;
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
                                  const QString& filter, int flags) {
    platform::CommonDialog dlgFile(owner);
    dlgFile.CancelError = true;
    dlgFile.Filter = filter;
    dlgFile.FileName.clear();
    dlgFile.Flags = flags;
    const int result =
        kind == platform::FileDialogKind::Open ? dlgFile.ShowOpen() : dlgFile.ShowSave();
    if (result == platform::CdlCancel)
        return std::nullopt;
    return dlgFile.FileName;
}
