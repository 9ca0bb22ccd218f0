// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/encoding/frmWav2Mp3.h"

#include "app/decoration/Decoration.h"
#include "app/decoration/DialogParts.h"
#include "app/decoration/FieldAccessible.h"
#include "app/decoration/Messages.h"
#include "app/decoration/ProgressBar.h"
#include "app/decoration/Twips.h"
#include "app/encoding/EncoderProperties.h"
#include "app/settings/Settings.h"
#include "app/shared/OpenedFile.h"
#include "app/shared/TempFiles.h"
#include "components/conversion/KeptResult.h"
#include "platform/DesktopSession.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <utility>

namespace {

using quillory::conversion::KeepEncodedFile;
using quillory::conversion::UncopiedResultMessage;

constexpr int CopyDelayMs = 1000;
constexpr platform::OleColor White = 0xFFFFFF;

const QString NewLine = QStringLiteral("\r\n");

} // namespace

frmWav2Mp3::frmWav2Mp3(QWidget* owner, ButtonFactory makeButton, EncoderFactory makeEncoder)
    : QDialog(owner, FixedDialogFlags) {
    UseFieldAccessibility();
    SetUpDialogFrame(this, "frmWav2Mp3", QStringLiteral("Convert WAV to MP3"), QSize(5775, 2610));
    surface_.resize(size());
    MP3X_ = makeEncoder(this);
    Timer1_.setInterval(CopyDelayMs);
    Timer1_.setSingleShot(true);
    Timer1_.setTimerType(Qt::PreciseTimer);
    setAcceptDrops(true);
    createControls(makeButton);
    connectControls();
    setTabOrder();
    load();
}

frmWav2Mp3::~frmWav2Mp3() {
    if (encoding_)
        MP3X_->Stop();
}

void frmWav2Mp3::createControls(const ButtonFactory& makeButton) {
    const QFont font = SansSerifFont();
    const auto pathBox = [&](const char* name, QRect geometry) {
        auto* box = new QLineEdit(this);
        box->setReadOnly(true);
        box->setObjectName(QString::fromLatin1(name));
        box->setFrame(false);
        box->setFont(font);
        box->setGeometry(geometry);
        SetBackColor(box, White);
        // A file dropped on the box is the window's to take.
        box->setAcceptDrops(false);
        return box;
    };
    PlaceLabel(this, "Label1", QStringLiteral("WAV File:"), TwipsPoint(240, 240), font);
    txtWAV_ = pathBox("txtWAV", TwipsRect(240, 480, 4215, 285));
    cmdWAV_ = PlaceButton(makeButton, this, "cmdWAV", QStringLiteral("Open ..."),
                          TwipsRect(4560, 480, 945, 315));
    PlaceLabel(this, "Label2", QStringLiteral("MP3 File:"), TwipsPoint(240, 960), font);
    txtMP3_ = pathBox("txtMP3", TwipsRect(240, 1200, 4215, 285));
    cmdMP3_ = PlaceButton(makeButton, this, "cmdMP3", QStringLiteral("Save ..."),
                          TwipsRect(4560, 1200, 945, 315));
    // Without its control the bar stays empty and the tool still converts.
    pbCur_ = ProgressBar::Place(this, QStringLiteral("pbCur"), TwipsRect(240, 1920, 4215, 315),
                                GaugeLayout{});
    cmdConvert_ = PlaceButton(makeButton, this, "cmdConvert", QStringLiteral("Convert"),
                              TwipsRect(4560, 1920, 945, 315));
    NameFieldsByLabels(this, {{"Label1", "txtWAV"}, {"Label2", "txtMP3"}});
}

void frmWav2Mp3::connectControls() {
    for (SkinButton* button : {cmdWAV_, cmdMP3_, cmdConvert_})
        ForwardHoverToHighlight(button);
    connect(cmdWAV_, &SkinButton::clicked, this, &frmWav2Mp3::chooseSource);
    connect(cmdMP3_, &SkinButton::clicked, this, &frmWav2Mp3::chooseTarget);
    connect(cmdConvert_, &SkinButton::clicked, this, &frmWav2Mp3::convert);
    connect(MP3X_, &Mp3Encoder::Progress, this, &frmWav2Mp3::showProgress);
    connect(MP3X_, &Mp3Encoder::EncodeFailed, this, &frmWav2Mp3::encodingFailed);
    connect(&Timer1_, &QTimer::timeout, this, &frmWav2Mp3::Timer1_Timer);
}

void frmWav2Mp3::setTabOrder() {
    QWidget* const order[] = {pbCur_, txtWAV_, txtMP3_, cmdMP3_, cmdWAV_, cmdConvert_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmWav2Mp3::load() {
    PutEncoderProperties(*MP3X_, Settings());
    PaintGradient({surface_, {}}, 0, 0, width(), height(), GradientEdge, GradientMiddle);
    EncodingViaTemp = false;
}

void frmWav2Mp3::chooseSource() {
    if (const auto chosen =
            AskForFile(this, platform::FileDialogKind::Open,
                       QStringLiteral("WAV Files(*.wav)|*.wav"), OpenFileFlags, DialogFolder::Tool))
        txtWAV_->setText(*chosen);
}

void frmWav2Mp3::setSource(const QString& path) {
    txtWAV_->setText(path);
}

// No default extension is added: the name is used as the user typed it.
void frmWav2Mp3::chooseTarget() {
    if (const auto chosen =
            AskForFile(this, platform::FileDialogKind::Save,
                       QStringLiteral("MP3 Files(*.mp3)|*.mp3"), SaveFileFlags, DialogFolder::Tool))
        txtMP3_->setText(*chosen);
}

void frmWav2Mp3::convert() {
    const QString source = txtWAV_->text();
    const QString target = txtMP3_->text();
    if (platform::TrimSpaces(source).isEmpty()) {
        ShowError(this, QStringLiteral("Please open a WAV file!"));
        return;
    }
    if (platform::TrimSpaces(target).isEmpty()) {
        ShowError(this, QStringLiteral("Please enter an MP3 file name to save!"));
        return;
    }
    if (!platform::FileExists(source)) {
        ShowError(this, QStringLiteral("The below file is not existing:") + NewLine + source);
        return;
    }
    if (platform::FileExists(target)) {
        const QString question = QStringLiteral("The below file is already existed,") + NewLine +
                                 QStringLiteral("Do you want to overwrite it?") + NewLine + target;
        // The old file stays until the new one replaces it whole.
        if (!AskYesNo(this, question))
            return;
    }
    if (MP3X_->EncodeFile(source, target)) {
        EncodingViaTemp = false;
        startedEncoding();
    } else {
        RetryViaTemp(source);
    }
}

void frmWav2Mp3::RetryViaTemp(const QString& sourceWav) {
    retriedSource_ = sourceWav;
    SourceCopyPath = NewTempPath(QStringLiteral(".wav"));
    EncodedTempPath = NewTempPath(QStringLiteral(".mp3"));
    // A source that cannot even be copied (unreadable, say) is reported like a second refusal,
    // with the reason the encoder gave for the first.
    EncodingViaTemp = platform::CopyFile(sourceWav, SourceCopyPath) &&
                      MP3X_->EncodeFile(SourceCopyPath, EncodedTempPath);
    if (EncodingViaTemp) {
        startedEncoding();
        return;
    }
    // Nothing of a refused conversion stays behind in the work folder.
    platform::DeleteFile(SourceCopyPath);
    platform::DeleteFile(EncodedTempPath);
    const QString reason = inUserTerms(MP3X_->errorText());
    ShowError(this,
              QStringLiteral("Unknow error!") + (reason.isEmpty() ? QString() : NewLine + reason));
}

void frmWav2Mp3::startedEncoding() {
    encoding_ = true;
    SetButtonEnabled(cmdConvert_, false);
    awake_ = platform::CurrentSleepInhibitor().inhibit(QStringLiteral("Encoding ") +
                                                       QFileInfo(txtWAV_->text()).fileName());
}

void frmWav2Mp3::endedEncoding() {
    awake_.reset();
    SetButtonEnabled(cmdConvert_, true);
}

void frmWav2Mp3::showProgress(qint16 percent, int) {
    pbCur_->putValue(percent);
    if (percent < 100)
        return;
    encoding_ = false;
    if (EncodingViaTemp) {
        // A box now would sit over the copy that Timer1 makes, with its own error on top.
        pendingWarning_ = inUserTerms(MP3X_->warningText());
        Timer1_.start();
        return;
    }
    endedEncoding();
    if (!MP3X_->warningText().isEmpty())
        ShowWarning(this, MP3X_->warningText());
}

void frmWav2Mp3::encodingFailed(const QString& message) {
    const QString text = EncodingViaTemp ? inUserTerms(message) : message;
    encoding_ = false;
    EncodingViaTemp = false;
    awake_.reset();
    ShowError(this, text);
    SetButtonEnabled(cmdConvert_, true);
}

void frmWav2Mp3::Timer1_Timer() {
    Timer1_.stop();
    EncodingViaTemp = false;
    copyResult();
    endedEncoding();
    if (const QString warning = std::exchange(pendingWarning_, QString()); !warning.isEmpty())
        ShowWarning(this, warning);
}

// The fallback encodes a copy the user never chose, gone by the time they read about it: what
// the encoder says of that copy is said of their own file.
QString frmWav2Mp3::inUserTerms(const QString& encoderText) const {
    QString text = encoderText;
    if (!SourceCopyPath.isEmpty())
        text.replace(SourceCopyPath, retriedSource_);
    return text;
}

// A result that cannot reach its target is kept under its own name and the user told where.
void frmWav2Mp3::copyResult() {
    const QString target = txtMP3_->text();
    const bool copied = platform::CopyFile(EncodedTempPath, target);
    QCoreApplication::processEvents();
    const QString kept = copied ? QString() : KeepEncodedFile(EncodedTempPath, target);
    DeleteTempFiles();
    if (copied)
        return;
    ShowError(this, UncopiedResultMessage(target, kept));
}

// A result that has just completed is kept: a direct one stays at the target, and one of the
// fallback is copied there at once, like a pending copy.
void frmWav2Mp3::done(int result) {
    if (encoding_) {
        encoding_ = false;
        if (MP3X_->Stop() && EncodingViaTemp)
            Timer1_.start();
        else
            EncodingViaTemp = false;
    }
    if (Timer1_.isActive())
        Timer1_Timer();
    QDialog::done(result);
}

void frmWav2Mp3::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    surface_.paint(painter);
}

// While an encoding runs the source is fixed: a drop then shows no drop cursor.
void frmWav2Mp3::dragEnterEvent(QDragEnterEvent* event) {
    if (!encoding_ && !DraggedFiles(*event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmWav2Mp3::dragMoveEvent(QDragMoveEvent* event) {
    if (!encoding_ && !DraggedFiles(*event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

// Taken after the drop has been answered: a message box must not keep the file manager waiting.
void frmWav2Mp3::dropEvent(QDropEvent* event) {
    const QStringList files = DraggedFiles(*event->mimeData());
    if (encoding_ || files.isEmpty())
        return;
    event->acceptProposedAction();
    QMetaObject::invokeMethod(
        this, [this, files] { takeDropped(files); }, Qt::QueuedConnection);
}

void frmWav2Mp3::takeDropped(const QStringList& files) {
    const QString& file = files.constFirst();
    switch (KindOfFile(file)) {
    case FileKind::Wav:
        setSource(file);
        break;
    case FileKind::Missing:
        ShowError(this, MissingFileMessage(file));
        return;
    default:
        ShowError(this, UnusableFileMessage(file, QStringLiteral("a WAV file")));
        return;
    }
    if (files.size() > 1)
        ShowInformation(this, FirstOfSeveralMessage(files.size(), file));
}
