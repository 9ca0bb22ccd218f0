// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/main/ConversionRun.h"

#include "app/decoration/Messages.h"
#include "app/main/PlayingTime.h"
#include "app/settings/RendererChoices.h"
#include "app/settings/Settings.h"
#include "app/shared/ConversionState.h"
#include "app/shared/TempFiles.h"
#include "components/button/SkinButton.h"
#include "components/conversion/KeptResult.h"
#include "components/conversion/OutputSettings.h"
#include "platform/Colour.h"
#include "platform/DesktopSession.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/Text.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <utility>

namespace {

const QString CrLf = QStringLiteral("\r\n");
constexpr platform::OleColor BlueText = 0xFF0000;

void setLabel(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

} // namespace

ConversionRun::ConversionRun(ConversionControls controls, Renderer* renderer, QObject* parent)
    : QObject(parent)
    , c_(std::move(controls))
    , rendler1_(renderer) {
    connect(rendler1_, &Renderer::RenderProgress, this, &ConversionRun::handleProgress);
    connect(rendler1_, &Renderer::RenderDone, this, &ConversionRun::handleEnd);
    connect(rendler1_, &Renderer::RenderEnded, this, &ConversionRun::handleEnd);
    connect(rendler1_, &Renderer::RenderFailed, this, &ConversionRun::handleFailure);
}

ConversionRun::~ConversionRun() = default;

void ConversionRun::toggle() {
    if (converting_)
        StopConversion();
    else
        StartConversion();
}

void ConversionRun::StartConversion() {
    if (!checkPaths())
        return;
    const QString source = c_.txtOpen->text();
    const QString target = c_.txtSave->text();
    if (platform::FileExists(target) && !confirmOverwrite(target))
        return;
    SetControlsEnabled(false);
    converting_ = true;
    c_.cmdConvert->setCaption(QStringLiteral("Stop"));
    runIsMp3_ = c_.optMP3->isChecked();
    ApplyRenderFormat(runIsMp3_);
    rendler1_->setSoundFont(SoundFontPath());
    rendler1_->setLoudness(Loudness());
    rendler1_->setWorkFolder(WindowsFolder());
    notice_.clear();
    if (runIsMp3_)
        TempWavPath() = NewTempPath(QStringLiteral(".wav"));
    if (!rendler1_->Render(source, runIsMp3_ ? TempWavPath() : target)) {
        failRun(rendler1_->errorText());
        return;
    }
    started_ = true;
    awake_ = platform::CurrentSleepInhibitor().inhibit(QStringLiteral("Converting ") +
                                                       QFileInfo(source).fileName());
    totalMs_ = std::int64_t(rendler1_->GetTotalTime(QString()));
    notice_ = rendler1_->noticeText();
    showTotal();
    // Nothing of a run that cannot convert anything is left at the target.
    if (totalMs_ <= 0) {
        rendler1_->CancelRender();
        failRun(QStringLiteral("The below file holds no music to convert:") + CrLf + source);
    }
}

bool ConversionRun::checkPaths() {
    if (platform::TrimSpaces(c_.txtOpen->text()).isEmpty()) {
        ShowError(c_.window, QStringLiteral("Please open an MIDI file!"));
        return false;
    }
    if (platform::TrimSpaces(c_.txtSave->text()).isEmpty()) {
        ShowError(c_.window, QStringLiteral("Please enter a file name to save!"));
        return false;
    }
    if (!platform::FileExists(c_.txtOpen->text())) {
        ShowError(c_.window,
                  QStringLiteral("The below file is not existing:") + CrLf + c_.txtOpen->text());
        return false;
    }
    return true;
}

// Yes deletes nothing: the old file stays until the run has a result, which replaces it in one
// rename, so a run that fails or is refused leaves it as it was.
bool ConversionRun::confirmOverwrite(const QString& target) {
    const QString text = QStringLiteral("The below file is already existed,") + CrLf +
                         QStringLiteral("Do you want to overwrite it?") + CrLf + target;
    return AskYesNo(c_.window, text);
}

void ConversionRun::ApplyRenderFormat(bool mp3) {
    const SettingsRecord& s = Settings();
    rendler1_->setChannelCount(mp3 ? 2 : s.WavChannels);
    rendler1_->setBitsPerSample(mp3 ? 16 : s.Bits);
    rendler1_->setSampleRate(mp3 ? 44100 : s.Frequency);
    rendler1_->setMp3Settings(mp3 ? std::optional(quillory::conversion::Mp3SettingsOf(s))
                                  : std::nullopt);
}

void ConversionRun::SetControlsEnabled(bool enabled) {
    c_.optMP3->setEnabled(enabled);
    c_.optWAV->setEnabled(enabled);
    SkinButton* const buttons[] = {c_.cmdConfigure, c_.cmdOpen, c_.cmdSave, c_.cmd[0],
                                   c_.cmd[2],       c_.cmd[3],  c_.cmd[4]};
    for (SkinButton* button : buttons)
        button->setEnabled(enabled);
    for (SkinButton* button : buttons)
        ShowEnabledColour(button);
}

void ConversionRun::ShowEnabledColour(SkinButton* button) {
    button->setForeColor(button->isEnabled() ? BlueText : platform::ColourGreyText);
}

void ConversionRun::StopConversion() {
    rendler1_->StopRender();
    enterIdle();
    endRun(RunEnd::Stopped);
}

void ConversionRun::enterIdle() {
    converting_ = false;
    c_.cmdConvert->setCaption(QStringLiteral("Convert"));
    SetControlsEnabled(true);
}

void ConversionRun::showTotal() {
    setLabel(c_.lTotal, QStringLiteral("Total: ") + FormatTime(totalMs_));
}

void ConversionRun::failRun(const QString& message) {
    enterIdle();
    if (runIsMp3_)
        DeleteTempFiles();
    endRun(RunEnd::Failed);
    ShowError(c_.window, message);
}

void ConversionRun::handleProgress(qint16 percent) {
    if (c_.showPercent)
        c_.showPercent(percent);
    setLabel(c_.lNow, QStringLiteral("Now: ") + FormatTime(ElapsedMs(percent, totalMs_)));
    showTotal();
}

void ConversionRun::handleEnd() {
    // A work folder that fills up half-way is known only now.
    if (notice_.isEmpty())
        notice_ = rendler1_->noticeText();
    enterIdle();
    FinishConversion();
    endRun(platform::FileExists(c_.txtSave->text()) ? RunEnd::Finished : RunEnd::Failed);
    showNotice();
}

// The session may sleep again, and a user who went to another window during a long render
// hears how it ended.
void ConversionRun::endRun(RunEnd how) {
    awake_.reset();
    if (!std::exchange(started_, false) || !c_.userAway || !c_.userAway())
        return;
    const QString target = c_.txtSave->text();
    const QString name = QFileInfo(target).fileName();
    const QString body = how == RunEnd::Finished  ? QStringLiteral("%1 is finished.")
                         : how == RunEnd::Stopped ? QStringLiteral("%1 was stopped.")
                                                  : QStringLiteral("%1 failed.");
    platform::CurrentNotifier().notify({QStringLiteral("Quillory"), body.arg(name), target});
}

// Told once the result is there, so the box never stands between the render and the MP3 stage.
void ConversionRun::showNotice() {
    const QString notice = std::exchange(notice_, QString());
    if (notice.isEmpty())
        return;
    ShowWarning(c_.window, QStringLiteral("The volume of the song below was not evened out; it "
                                          "was converted at the fixed volume:") +
                               CrLf + c_.txtOpen->text() + CrLf + notice);
}

void ConversionRun::handleFailure(const QString& message) {
    if (converting_)
        failRun(message);
}

void ConversionRun::FinishConversion() {
    if (!runIsMp3_)
        return;
    Mp3ViaTemp() = false;
    if (c_.runEncodingStage)
        c_.runEncodingStage();
    QCoreApplication::processEvents();
    if (Mp3ViaTemp())
        copyFallbackResult();
    QCoreApplication::processEvents();
    DeleteTempFiles();
}

// A fallback result that cannot reach the target is moved out of the clean-up's way and the
// user is told where it is, instead of being deleted with the temporary files.
void ConversionRun::copyFallbackResult() {
    const QString target = c_.txtSave->text();
    if (platform::CopyFile(TempMp3Path(), target))
        return;
    const QString kept = quillory::conversion::KeepEncodedFile(TempMp3Path(), target);
    ShowError(c_.window, quillory::conversion::UncopiedResultMessage(target, kept));
}
