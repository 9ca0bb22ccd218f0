// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The Options dialog: the MP3 and WAV output settings in drop-down lists, the SoundFont the
// renderer plays with, and whether MIDI conversions are evened out in loudness. Only OK changes
// the settings, and the same step saves options.ini.
#pragma once

#include "app/decoration/Surface.h"
#include "components/button/SkinButton.h"
#include "components/levelling/LoudnessChoice.h"

#include <QDialog>
#include <array>
#include <cstdint>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

// Every list item carries its value beside its text; the dialog maps settings to lists only
// through these values.
void FillBitrateList(QComboBox* list);
// Selects the first item with the value; without one the selection stays as it was.
void SelectItemByValue(QComboBox* list, std::int32_t value);
std::int32_t SelectedItemValue(const QComboBox* list);

class frmOptions : public QDialog {
    Q_OBJECT
public:
    frmOptions(QWidget* owner, ButtonFactory makeButton);
    ~frmOptions() override;

    void RestoreDefaults();
    void UpdateVbrControls();
    void ShowSettings();
    void TakeSettings();

    // The SoundFont the dialog would store on OK; empty for the renderer's own search.
    const QString& chosenSoundFont() const { return soundFont_; }
    // The loudness the dialog would store on OK.
    quillory::renderer::LoudnessChoice chosenLoudness() const;
    const Surface& surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls(const ButtonFactory& makeButton);
    QComboBox* createList(const char* name, QRect geometry);
    void connectControls();
    void setTabOrder();
    void load();
    std::vector<QWidget*> tintedControls() const;
    void drawEtchedFrames();
    void fillLists();
    void cmdOK_Click(int index);
    void confirm();
    void save();
    bool rangeIsValid();
    bool soundFontNeedsCheck() const;
    void checkSoundFont();
    void soundFontChecked(const QString& problem);
    void setChecking(bool checking);
    void chooseSoundFont();
    void clearSoundFont();
    void showSoundFont();

    Surface surface_;
    QString soundFont_;
    // The target the check box stands for: the stored one, so that a target written into the
    // file by hand survives an OK with the box checked; the default after Default.
    double evenLufs_ = quillory::renderer::LoudnessChoice::kDefaultLufs;

    QComboBox* cboBitrate_ = nullptr;
    QComboBox* cboChannels_ = nullptr;
    QComboBox* cboMin_ = nullptr;
    QComboBox* cboMax_ = nullptr;
    QComboBox* cboFrequency_ = nullptr;
    QComboBox* cboWAVChannels_ = nullptr;
    QComboBox* cboBits_ = nullptr;
    QCheckBox* chkVBR_ = nullptr;
    QCheckBox* chkLoudness_ = nullptr;
    QLabel* labelMP3_ = nullptr;
    QLabel* labelWAV_ = nullptr;
    QLabel* label3_ = nullptr;
    QLabel* label4_ = nullptr;
    QLineEdit* txtSoundFont_ = nullptr;
    QAction* clearSoundFont_ = nullptr;
    std::array<SkinButton*, 3> cmdOK_{};
    SkinButton* cmdSoundFont_ = nullptr;
};
