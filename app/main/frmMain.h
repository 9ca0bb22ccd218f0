// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window: source and target paths, output type, the command buttons, and the
// start-up sequence that paints the background and loads the settings.
#pragma once

#include "app/decoration/Surface.h"
#include "components/button/SkinButton.h"
#include "components/encoder/Mp3Encoder.h"
#include "components/renderer/Renderer.h"

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

class QLabel;
class QLineEdit;
class QMimeData;
class QRadioButton;
class ConversionRun;
class ProgressBar;

struct MainWindowSetup {
    // The folder that holds the program, its help file and, when writable, options.ini.
    QString programFolder;
    ButtonFactory makeButton;
    RendererFactory makeRenderer;
    EncoderFactory makeEncoder;
    // Whether the user is in another program, to be told by a notification when a run ends.
    std::function<bool()> userAway;
};

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(MainWindowSetup setup, QWidget* parent = nullptr);
    ~frmMain() override;

    void RefreshCap();
    // A file given from outside the Open dialog (the command line, a drop, a file manager's
    // "Open with"): a MIDI file becomes the source, a WAV file opens the WAV-to-MP3 tool with it.
    void openFile(const QString& path);

    bool isConverting() const;
    const Surface& surface() const { return surface_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    SkinButton* createButton(const char* name, const QString& caption, QRect twips);
    void connectButtons();
    void setTabOrder();
    void addKeys();
    void nameForScreenReaders();
    void startUp();
    void frameTextBox(QRect& shape, const QLineEdit* box);

    void chooseSource();
    void chooseTarget();
    void selectOption(QRadioButton* option, bool selected);
    void switchTargetToMp3();
    void switchTargetToWav();
    void openHelpFile();
    void openVolumeControl();
    void openOptions();
    void openWavToMp3(const QString& source = QString());
    bool acceptsDrag(const QMimeData& data) const;
    void takeDropped(const QStringList& files);
    void openAbout();
    void createConversionRun();
    void runEncodingStage();

    MainWindowSetup setup_;
    Surface surface_;
    ConversionRun* run_ = nullptr;

    QLineEdit* txtOpen_ = nullptr;
    QLineEdit* txtSave_ = nullptr;
    QRadioButton* optMP3_ = nullptr;
    QRadioButton* optWAV_ = nullptr;
    QLabel* lNow_ = nullptr;
    QLabel* lTotal_ = nullptr;
    ProgressBar* pbCur_ = nullptr;
    SkinButton* cmdConfigure_ = nullptr;
    SkinButton* cmdOpen_ = nullptr;
    SkinButton* cmdSave_ = nullptr;
    SkinButton* cmdConvert_ = nullptr;
    std::array<SkinButton*, 5> cmd_{};
};
