// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/settings/frmOptions.h"

#include "app/decoration/Decoration.h"
#include "app/decoration/DialogParts.h"
#include "app/decoration/FieldAccessible.h"
#include "app/decoration/Messages.h"
#include "app/decoration/Twips.h"
#include "app/settings/RendererChoices.h"
#include "app/settings/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QThread>

#include <memory>

namespace {

constexpr platform::OleColor White = 0xFFFFFF;
constexpr platform::OleColor GroupCaptionText = 0x800000;

const QString NoSoundFontChosen = QStringLiteral("(automatic)");

// Shape1 (1) and (0) frame the MP3 group, (3) and (2) the WAV group; the even ones are the
// white half of the etched line, drawn first so the accent line lies over them.
enum FrameIndex { Mp3White, Mp3Accent, WavWhite, WavAccent };

struct Item {
    const char* text;
    std::int32_t value;
};

const Item BitrateItems[] = {
    {"32 kb/s", 32},   {"40 kb/s", 40},   {"48 kb/s", 48},   {"56 kb/s", 56},   {"64 kb/s", 64},
    {"80 kb/s", 80},   {"96 kb/s", 96},   {"112 kb/s", 112}, {"128 kb/s", 128}, {"160 kb/s", 160},
    {"192 kb/s", 192}, {"224 kb/s", 224}, {"256 kb/s", 256}, {"320 kb/s", 320}};
const Item Mp3ChannelItems[] = {
    {"Stereo", 0}, {"Joint Stereo", 1}, {"Mono", 2}, {"Dual Channel", 3}};
const Item FrequencyItems[] = {{"44100", 44100}, {"22050", 22050}, {"11025", 11025}};
const Item WavChannelItems[] = {{"Stereo", 2}, {"Mono", 1}};
const Item BitsItems[] = {{"16 Bits", 16}, {"8 Bits", 8}};

// Each list is named by its label, and every field by its frame's caption, for screen readers.
void describeFields(QDialog* dialog) {
    const std::initializer_list<std::pair<const char*, const char*>> labelled = {
        {"Label1", "cboBitrate"}, {"Label2", "cboChannels"},  {"Label3", "cboMin"},
        {"Label4", "cboMax"},     {"Label8", "cboFrequency"}, {"Label9", "cboWAVChannels"},
        {"Label7", "cboBits"}};
    NameFieldsByLabels(dialog, labelled);
    FitLabelsBeforeFields(dialog, labelled);
    AlignLabelsWithLists(dialog, labelled);
    DescribeByFrameCaption(dialog, "LabelMP3",
                           {"cboBitrate", "cboChannels", "chkVBR", "cboMin", "cboMax"});
    DescribeByFrameCaption(dialog, "LabelWAV", {"cboFrequency", "cboWAVChannels", "cboBits"});
}

template <std::size_t N>
void fillList(QComboBox* list, const Item (&items)[N]) {
    list->clear();
    for (const Item& item : items)
        list->addItem(QString::fromLatin1(item.text), QVariant::fromValue<qint32>(item.value));
}

} // namespace

void FillBitrateList(QComboBox* list) {
    fillList(list, BitrateItems);
}

void SelectItemByValue(QComboBox* list, std::int32_t value) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemData(i).value<qint32>() == value) {
            list->setCurrentIndex(i);
            return;
        }
    }
}

std::int32_t SelectedItemValue(const QComboBox* list) {
    return list->currentData().value<qint32>();
}

frmOptions::frmOptions(QWidget* owner, ButtonFactory makeButton)
    : QDialog(owner, FixedDialogFlags) {
    UseFieldAccessibility();
    SetUpDialogFrame(this, "frmOptions", QStringLiteral("Options"), QSize(5670, 5445));
    surface_.resize(size());
    createControls(makeButton);
    describeFields(this);
    connectControls();
    setTabOrder();
    load();
}

frmOptions::~frmOptions() = default;

void frmOptions::createControls(const ButtonFactory& makeButton) {
    const QFont font = SansSerifFont();
    // Group captions are opaque and cover the frame line they sit across.
    const auto groupCaption = [&](const char* name, const QString& text, QPoint at) {
        auto* caption = new QLabel(text, this);
        caption->setObjectName(QString::fromLatin1(name));
        caption->setFont(font);
        caption->setContentsMargins(2, 0, 2, 0);
        SetTextColour(caption, GroupCaptionText);
        caption->move(at);
        caption->adjustSize();
        return caption;
    };
    const auto label = [&](const char* name, const QString& text, QPoint at) {
        return PlaceLabel(this, name, text, at, font);
    };
    const QRect mp3Frame = TwipsRect(240, 240, 3735, 2895);
    const QRect wavFrame = TwipsRect(240, 3360, 3735, 1815);
    surface_.shapes = {{mp3Frame, 0}, {mp3Frame, 0}, {wavFrame, 0}, {wavFrame, 0}};

    labelMP3_ = groupCaption("LabelMP3", QStringLiteral("MP3 Settings"), TwipsPoint(480, 120));
    label("Label1", QStringLiteral("Bitrate"), TwipsPoint(480, 480));
    cboBitrate_ = createList("cboBitrate", TwipsRect(1680, 480, 2055, 315));
    label("Label2", QStringLiteral("Channels Mode"), TwipsPoint(480, 960));
    cboChannels_ = createList("cboChannels", TwipsRect(1680, 960, 2055, 315));
    chkVBR_ = new QCheckBox(QStringLiteral("Support VBR (Variable Bit Rate)"), this);
    chkVBR_->setObjectName(QStringLiteral("chkVBR"));
    chkVBR_->setFont(font);
    chkVBR_->setGeometry(TwipsRect(480, 1680, 2775, 195));
    label3_ = label("Label3", QStringLiteral("Bitrate Min"), TwipsPoint(480, 2040));
    cboMin_ = createList("cboMin", TwipsRect(1680, 2040, 2055, 315));
    label4_ = label("Label4", QStringLiteral("Bitrate Max"), TwipsPoint(480, 2520));
    for (QLabel* range : {label3_, label4_})
        SetDisabledTextColour(range, DisabledLabelText);
    cboMax_ = createList("cboMax", TwipsRect(1680, 2520, 2055, 315));

    labelWAV_ = groupCaption("LabelWAV", QStringLiteral("WAV Settings"), TwipsPoint(480, 3240));
    label("Label8", QStringLiteral("Frequency:"), TwipsPoint(480, 3600));
    cboFrequency_ = createList("cboFrequency", TwipsRect(1680, 3600, 2055, 315));
    label("Label9", QStringLiteral("Channels:"), TwipsPoint(480, 4080));
    cboWAVChannels_ = createList("cboWAVChannels", TwipsRect(1680, 4080, 2055, 315));
    label("Label7", QStringLiteral("Bits Per Sample:"), TwipsPoint(480, 4560));
    cboBits_ = createList("cboBits", TwipsRect(1680, 4560, 2055, 315));

    const char* const captions[] = {"OK", "Cancel", "Default"};
    for (int i = 0; i < 3; ++i) {
        const QByteArray name = QByteArray("cmdOK(") + QByteArray::number(i) + ')';
        cmdOK_[i] =
            PlaceButton(makeButton, this, name.constData(), QString::fromLatin1(captions[i]),
                        TwipsRect(4200, 240 + 480 * i, 1260, 330));
    }
    // The SoundFont choice continues the button column; the file's name sits under it, in a
    // field that shows through to the gradient, with its own control to go back to automatic.
    cmdSoundFont_ = PlaceButton(makeButton, this, "cmdSoundFont", QStringLiteral("SoundFont ..."),
                                TwipsRect(4200, 1680, 1260, 330));
    txtSoundFont_ = new QLineEdit(this);
    // Read-only first: a screen reader's description of the field is made at its first change.
    txtSoundFont_->setReadOnly(true);
    txtSoundFont_->setObjectName(QStringLiteral("txtSoundFont"));
    txtSoundFont_->setAccessibleName(QStringLiteral("SoundFont"));
    txtSoundFont_->setFont(font);
    txtSoundFont_->setGeometry(TwipsRect(4140, 2040, 1440, 330));
    txtSoundFont_->setFrame(false);
    txtSoundFont_->setAlignment(Qt::AlignHCenter);
    QPalette clear = txtSoundFont_->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    txtSoundFont_->setPalette(clear);
    clearSoundFont_ = txtSoundFont_->addAction(
        style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::TrailingPosition);
    clearSoundFont_->setObjectName(QStringLiteral("clearSoundFont"));
    clearSoundFont_->setText(QStringLiteral("Automatic SoundFont"));
    clearSoundFont_->setToolTip(
        QStringLiteral("Go back to the General MIDI SoundFont the renderer finds installed."));
    // The button inside the field takes no focus; from the keyboard, Delete in the field clears.
    txtSoundFont_->installEventFilter(this);
    // The column is narrow, so the caption takes two lines; like the labels, the box lets the
    // gradient show through.
    chkLoudness_ = new QCheckBox(QStringLiteral("Even out\nthe volume"), this);
    chkLoudness_->setObjectName(QStringLiteral("chkLoudness"));
    chkLoudness_->setAccessibleName(QStringLiteral("Even out the volume"));
    chkLoudness_->setFont(font);
    chkLoudness_->setGeometry(TwipsRect(4200, 2430, 1365, 510));
    chkLoudness_->setToolTip(
        QStringLiteral("Brings every MIDI conversion to the same loudness (-16 LUFS), with its "
                       "peaks kept 1 dB below full scale. Clear it for the fixed volume."));
}

QComboBox* frmOptions::createList(const char* name, QRect geometry) {
    auto* list = new QComboBox(this);
    list->setObjectName(QString::fromLatin1(name));
    list->setFont(SansSerifFont());
    list->setGeometry(geometry);
    return list;
}

void frmOptions::connectControls() {
    for (int i = 0; i < 3; ++i) {
        ForwardHoverToHighlight(cmdOK_[i]);
        connect(cmdOK_[i], &SkinButton::clicked, this, [this, i] { cmdOK_Click(i); });
    }
    ForwardHoverToHighlight(cmdSoundFont_);
    connect(cmdSoundFont_, &SkinButton::clicked, this, &frmOptions::chooseSoundFont);
    connect(clearSoundFont_, &QAction::triggered, this, &frmOptions::clearSoundFont);
    // Any change of the check state, also from RestoreDefaults and ShowSettings, updates the
    // range lists.
    connect(chkVBR_, &QCheckBox::toggled, this, &frmOptions::UpdateVbrControls);
}

void frmOptions::setTabOrder() {
    QWidget* const order[] = {cboBitrate_,   cboChannels_,    chkVBR_,       cboMin_,     cboMax_,
                              cboFrequency_, cboWAVChannels_, cboBits_,      cmdOK_[0],   cmdOK_[1],
                              cmdOK_[2],     cmdSoundFont_,   txtSoundFont_, chkLoudness_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmOptions::load() {
    PaintGradient({surface_, tintedControls()}, 0, 0, width(), height(), GradientEdge,
                  GradientMiddle);
    drawEtchedFrames();
    fillLists();
    RestoreDefaults();
    UpdateVbrControls();
    ShowSettings();
}

// The group captions and the settings' own fields take the colour of the gradient behind them;
// the buttons, the SoundFont field and the loudness box keep theirs.
std::vector<QWidget*> frmOptions::tintedControls() const {
    return {labelMP3_,    labelWAV_,     chkVBR_, cboBitrate_, cboBits_,
            cboChannels_, cboFrequency_, cboMax_, cboMin_,     cboWAVChannels_};
}

void frmOptions::drawEtchedFrames() {
    const platform::OleColor accent = cmdOK_[0]->accentColor();
    for (auto [white, dark] : {std::pair{Mp3White, Mp3Accent}, std::pair{WavWhite, WavAccent}}) {
        surface_.shapes[white].rect = surface_.shapes[dark].rect.translated(1, 1);
        surface_.shapes[white].border = White;
        surface_.shapes[dark].border = accent;
    }
}

void frmOptions::fillLists() {
    FillBitrateList(cboBitrate_);
    FillBitrateList(cboMin_);
    FillBitrateList(cboMax_);
    fillList(cboChannels_, Mp3ChannelItems);
    fillList(cboBits_, BitsItems);
    fillList(cboFrequency_, FrequencyItems);
    fillList(cboWAVChannels_, WavChannelItems);
}

void frmOptions::RestoreDefaults() {
    SelectItemByValue(cboBitrate_, 128);
    SelectItemByValue(cboMin_, 32);
    SelectItemByValue(cboMax_, 320);
    cboChannels_->setCurrentIndex(0);
    chkVBR_->setChecked(false);
    cboWAVChannels_->setCurrentIndex(0);
    cboBits_->setCurrentIndex(0);
    cboFrequency_->setCurrentIndex(0);
    soundFont_.clear();
    showSoundFont();
    chkLoudness_->setChecked(true);
    evenLufs_ = quillory::renderer::LoudnessChoice::kDefaultLufs;
}

void frmOptions::UpdateVbrControls() {
    const bool vbr = chkVBR_->isChecked();
    for (QWidget* control : {static_cast<QWidget*>(cboMin_), static_cast<QWidget*>(cboMax_),
                             static_cast<QWidget*>(label3_), static_cast<QWidget*>(label4_)})
        control->setEnabled(vbr);
}

void frmOptions::ShowSettings() {
    const SettingsRecord& s = Settings();
    SelectItemByValue(cboBitrate_, s.Bitrate);
    SelectItemByValue(cboChannels_, s.Mp3Channels);
    SelectItemByValue(cboMin_, s.MinBitrate);
    SelectItemByValue(cboMax_, s.MaxBitrate);
    chkVBR_->setChecked(s.VBR);
    SelectItemByValue(cboBits_, s.Bits);
    SelectItemByValue(cboFrequency_, s.Frequency);
    SelectItemByValue(cboWAVChannels_, s.WavChannels);
    soundFont_ = SoundFontPath();
    showSoundFont();
    const quillory::renderer::LoudnessChoice loudness = Loudness();
    chkLoudness_->setChecked(loudness.even);
    if (loudness.even)
        evenLufs_ = loudness.lufs;
}

quillory::renderer::LoudnessChoice frmOptions::chosenLoudness() const {
    return chkLoudness_->isChecked() ? quillory::renderer::LoudnessChoice{true, evenLufs_}
                                     : quillory::renderer::LoudnessChoice::off();
}

void frmOptions::TakeSettings() {
    SettingsRecord& s = Settings();
    s.Bitrate = SelectedItemValue(cboBitrate_);
    s.Mp3Channels = SelectedItemValue(cboChannels_);
    s.MinBitrate = SelectedItemValue(cboMin_);
    s.MaxBitrate = SelectedItemValue(cboMax_);
    s.VBR = chkVBR_->isChecked();
    s.Bits = SelectedItemValue(cboBits_);
    s.Frequency = SelectedItemValue(cboFrequency_);
    s.WavChannels = SelectedItemValue(cboWAVChannels_);
}

void frmOptions::cmdOK_Click(int index) {
    switch (index) {
    case 0:
        confirm();
        break;
    case 1:
        reject();
        break;
    case 2:
        RestoreDefaults();
        break;
    }
}

void frmOptions::confirm() {
    if (!rangeIsValid())
        return;
    if (soundFontNeedsCheck())
        checkSoundFont();
    else
        save();
}

void frmOptions::save() {
    TakeSettings();
    bool saved = SaveSettings();
    if (soundFont_ != SoundFontPath())
        saved = SetSoundFontPath(soundFont_) && saved;
    // Written only when changed, like the SoundFont: a file without the key keeps meaning -16.
    if (chosenLoudness() != Loudness())
        saved = SetLoudness(chosenLoudness()) && saved;
    // The new values hold for this run either way; the user must know they will not last.
    if (!saved)
        ShowError(this, QStringLiteral("The settings could not be saved to the file below:\r\n") +
                            SettingsPath() +
                            QStringLiteral("\r\nThey apply until Quillory is closed."));
    accept();
}

// The three bit-rate lists hold the same items in ascending order, so positions compare rates.
bool frmOptions::rangeIsValid() {
    if (!chkVBR_->isChecked() || cboMin_->currentIndex() < cboMax_->currentIndex())
        return true;
    ShowError(this, QStringLiteral("Min Bitrate Must be smaller than Max Bitrate!"));
    return false;
}

// Only a newly chosen file is checked: a stored choice that went bad must not block the other
// settings, and the renderer reports it when it tries to load it.
bool frmOptions::soundFontNeedsCheck() const {
    return !soundFont_.isEmpty() && soundFont_ != SoundFontPath();
}

// The SoundFont is loaded on a worker thread, whole, as the renderer will load it; the dialog
// stays responsive meanwhile, and Cancel still closes it. A dialog closed before the answer
// arrives hears nothing.
void frmOptions::checkSoundFont() {
    setChecking(true);
    auto problem = std::make_shared<QString>();
    QThread* worker =
        QThread::create([problem, path = soundFont_] { *problem = SoundFontLoadProblem(path); });
    connect(worker, &QThread::finished, this, [this, problem] { soundFontChecked(*problem); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void frmOptions::soundFontChecked(const QString& problem) {
    setChecking(false);
    if (problem.isEmpty()) {
        save();
        return;
    }
    ShowError(this, QStringLiteral("This SoundFont cannot be used:\r\n") + soundFont_ +
                        QStringLiteral("\r\n") + problem);
}

// While the SoundFont is loaded nothing may change it or press OK again.
void frmOptions::setChecking(bool checking) {
    for (QWidget* control : {static_cast<QWidget*>(cmdOK_[0]), static_cast<QWidget*>(cmdOK_[2]),
                             static_cast<QWidget*>(cmdSoundFont_)})
        control->setEnabled(!checking);
    clearSoundFont_->setEnabled(!checking);
    if (checking)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void frmOptions::chooseSoundFont() {
    const std::optional<QString> chosen =
        AskForFile(this, platform::FileDialogKind::Open,
                   QStringLiteral("SoundFont Files(*.sf2;*.sf3)|*.sf2;*.sf3"), OpenFileFlags);
    if (!chosen)
        return;
    soundFont_ = *chosen;
    showSoundFont();
}

bool frmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtSoundFont_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && clearSoundFont_->isEnabled()) {
            clearSoundFont();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// Clearing the field goes back to the renderer's own search, as an empty key in options.ini
// means; the other settings stay as they are.
void frmOptions::clearSoundFont() {
    soundFont_.clear();
    showSoundFont();
}

// The column is narrow: the name is shortened in the middle, the whole path is in the tip.
void frmOptions::showSoundFont() {
    clearSoundFont_->setVisible(!soundFont_.isEmpty());
    if (soundFont_.isEmpty()) {
        txtSoundFont_->setText(NoSoundFontChosen);
        txtSoundFont_->setToolTip(
            QStringLiteral("The renderer uses the General MIDI SoundFont it finds installed."));
        return;
    }
    // The clear control takes a square at the right end of the field.
    const int room = txtSoundFont_->width() - txtSoundFont_->height() - 4;
    const QString name = QFileInfo(soundFont_).fileName();
    txtSoundFont_->setText(txtSoundFont_->fontMetrics().elidedText(name, Qt::ElideMiddle, room));
    txtSoundFont_->setToolTip(soundFont_);
}

void frmOptions::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    surface_.paint(painter);
}
