// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/frmAbout.h"

#include "app/decoration/Decoration.h"
#include "app/decoration/DialogParts.h"
#include "app/decoration/LinkLabel.h"
#include "app/decoration/Messages.h"
#include "app/decoration/ProductInfo.h"
#include "app/decoration/Twips.h"
#include "platform/Shell.h"

#include <QLabel>
#include <QPainter>

namespace {

constexpr platform::OleColor DarkGreen = 0x008000;
constexpr platform::OleColor Red = 0x0000FF;
constexpr platform::OleColor LinkBlue = 0xFF0000;

} // namespace

frmAbout::frmAbout(QWidget* owner, ButtonFactory makeButton)
    : QDialog(owner, FixedDialogFlags) {
    SetUpDialogFrame(this, "frmAbout", QStringLiteral("About Quillory"), QSize(6135, 2820));
    surface_.resize(size());
    createControls(makeButton);
    connect(cmdOK_, &SkinButton::clicked, this, &QDialog::accept);
    connect(lblWebsite_, &LinkLabel::followed, this, &frmAbout::OpenWebsite);
    ForwardHoverToHighlight(cmdOK_);
    PaintGradient({surface_, {}}, 0, 0, width(), height(), GradientEdge, GradientMiddle);
}

frmAbout::~frmAbout() = default;

void frmAbout::createControls(const ButtonFactory& makeButton) {
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(ProgramIconPixmap(devicePixelRatioF()));
    image->setGeometry(TwipsRect(240, 240, 720, 720));
    image->setAccessibleName(QStringLiteral("Quillory icon"));

    QLabel* name = PlaceLabel(this, "Label1", QStringLiteral("Quillory 1.20"),
                              TwipsRect(1200, 240, 3060, 285), ArialFont(12, true));
    SetTextColour(name, DarkGreen);
    QLabel* line =
        PlaceLabel(this, "Label4", QStringLiteral("Convert MIDI to MP3, Convert MIDI to WAV"),
                   TwipsRect(1200, 720, 2835, 480), ArialFont(9.75, true));
    line->setWordWrap(true);
    SetTextColour(line, Red);
    PlaceLabel(this, "Label2", QStringLiteral("Website:"), TwipsRect(1200, 1440, 630, 195),
               SansSerifFont());

    QFont linkFont = SansSerifFont();
    linkFont.setUnderline(true);
    lblWebsite_ = new LinkLabel(QString::fromLatin1(ProductWebsite), this);
    SetUpLabel(lblWebsite_, "lblWebsite", TwipsRect(2040, 1440, 2280, 195), linkFont);
    SetTextColour(lblWebsite_, LinkBlue);

    cmdOK_ = PlaceButton(makeButton, this, "cmdOK", QStringLiteral("OK"),
                         TwipsRect(4680, 360, 1140, 330));
}

void frmAbout::OpenWebsite() {
    const QString website = QString::fromLatin1(ProductWebsite);
    platform::ShellExecute(QStringLiteral("open"), QStringLiteral("IExplore.exe"), website,
                           QString(), this, [this, website](const QString& failure) {
                               if (!failure.isEmpty())
                                   ShowError(this, QStringLiteral("The web site ") + website +
                                                       QStringLiteral(" could not be opened: ") +
                                                       failure + QLatin1Char('.'));
                           });
}

void frmAbout::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    surface_.paint(painter);
}
