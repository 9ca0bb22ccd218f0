// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/main/frmMain.h"

#include "app/decoration/Decoration.h"
#include "app/decoration/DialogParts.h"
#include "app/decoration/FieldAccessible.h"
#include "app/decoration/Messages.h"
#include "app/decoration/OptionAccessible.h"
#include "app/decoration/ProductInfo.h"
#include "app/decoration/ProgressBar.h"
#include "app/decoration/Twips.h"
#include "app/decoration/frmAbout.h"
#include "app/encoding/frmConvert.h"
#include "app/encoding/frmWav2Mp3.h"
#include "app/main/ConversionRun.h"
#include "app/settings/RendererChoices.h"
#include "app/settings/Settings.h"
#include "app/settings/frmOptions.h"
#include "app/shared/FolderMemory.h"
#include "app/shared/OpenedFile.h"
#include "app/shared/TempFiles.h"
#include "components/button/SkinButton.h"
#include "components/conversion/TargetName.h"
#include "platform/CommonDialog.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>

namespace {

using quillory::conversion::LastFourLower;
using quillory::conversion::SwitchExtension;

constexpr platform::OleColor LabelText = 0x404040;
constexpr platform::OleColor FrameColour = 0xFF8080;
constexpr platform::OleColor White = 0xFFFFFF;

constexpr int ClientWidthTwips = 6945;
constexpr int ClientHeightTwips = 4350;

enum ShapeIndex { Shape1, ShpOpen, ShpSave };
enum LineIndex { Line1Top, Line1Bottom };

} // namespace

frmMain::frmMain(MainWindowSetup setup, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
    , setup_(std::move(setup)) {
    UseFieldAccessibility();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ProgramTitle);
    setWindowIcon(ProgramIcon());
    setFixedSize(TwipsToPixels(ClientWidthTwips), TwipsToPixels(ClientHeightTwips));
    surface_.resize(size());
    createControls();
    createConversionRun();
    connectButtons();
    setTabOrder();
    addKeys();
    nameForScreenReaders();
    setAcceptDrops(true);
    startUp();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    txtOpen_->setFocus();
}

frmMain::~frmMain() = default;

bool frmMain::isConverting() const {
    return run_->converting();
}

void frmMain::RefreshCap() {
    setWindowTitle(QStringLiteral("Quillory 2.0"));
}

void frmMain::createControls() {
    const auto label = [this](const char* name, const QString& text, QRect twips) {
        QLabel* l = PlaceLabel(this, name, text, twips.topLeft(), ArialFont(9, true));
        SetTextColour(l, LabelText);
        return l;
    };
    const auto pathBox = [this](const char* name, QRect twips) {
        auto* box = new QLineEdit(this);
        box->setReadOnly(true);
        box->setObjectName(QString::fromLatin1(name));
        box->setFrame(false);
        box->setFont(SansSerifFont());
        box->setGeometry(twips);
        SetBackColor(box, White);
        box->installEventFilter(this);
        // A file dropped on the box is the window's to take.
        box->setAcceptDrops(false);
        return box;
    };
    UseOptionButtonAccessibility();
    const auto option = [this](const char* name, const QString& text, QRect twips) {
        auto* button = new QRadioButton(text, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoExclusive(false);
        button->setFont(SansSerifFont());
        SetTextColour(button, ButtonTextBlue);
        button->setGeometry(twips);
        return button;
    };

    label("Label5", QStringLiteral("Converting Type:"), TwipsRect(240, 240, 1410, 225));
    surface_.shapes.push_back({TwipsRect(240, 480, 5175, 315), FrameColour});
    optMP3_ =
        option("optMP3", QStringLiteral("Convert MIDI to MP3"), TwipsRect(360, 525, 2415, 255));
    optWAV_ =
        option("OptWAV", QStringLiteral("Convert MIDI to WAV"), TwipsRect(2880, 525, 2415, 255));
    optMP3_->setChecked(true);
    cmdConfigure_ = createButton("cmdConfigure", QStringLiteral("Configure ..."),
                                 TwipsRect(5520, 480, 1185, 315));

    label("Label1", QStringLiteral("Open MIDI File:"), TwipsRect(240, 960, 1230, 225));
    txtOpen_ = pathBox("txtOpen", TwipsRect(240, 1200, 5175, 285));
    surface_.shapes.push_back({QRect(), FrameColour});
    cmdOpen_ =
        createButton("cmdOpen", QStringLiteral("Open ..."), TwipsRect(5520, 1200, 1185, 315));

    label("Label2", QStringLiteral("Save to File:"), TwipsRect(240, 1680, 1005, 225));
    txtSave_ = pathBox("txtSave", TwipsRect(240, 1920, 5175, 285));
    surface_.shapes.push_back({QRect(), FrameColour});
    cmdSave_ =
        createButton("cmdSave", QStringLiteral("Save ..."), TwipsRect(5520, 1920, 1185, 315));

    lNow_ = label("lNow", QStringLiteral("Now:"), TwipsRect(240, 2400, 420, 225));
    lTotal_ = label("lTotal", QStringLiteral("Total:"), TwipsRect(2520, 2400, 465, 225));
    GaugeLayout bar;
    bar.borderColor = FrameColour;
    pbCur_ =
        ProgressBar::Place(this, QStringLiteral("pbCur"), TwipsRect(240, 2640, 5175, 315), bar);
    cmdConvert_ =
        createButton("cmdConvert", QStringLiteral("Convert"), TwipsRect(5520, 2640, 1185, 315));

    surface_.lines.push_back(
        {QLine(TwipsToPixels(-480), TwipsToPixels(3360), TwipsToPixels(6960), TwipsToPixels(3360)),
         0});
    surface_.lines.push_back(
        {QLine(0, TwipsToPixels(3480), TwipsToPixels(7440), TwipsToPixels(3480)), 0});

    const char* const captions[] = {"WAV->MP3...", "Help", "About ...", "Control ...", "Exit"};
    for (int i = 0; i < 5; ++i) {
        const QByteArray name = QByteArray("cmd(") + QByteArray::number(i) + ')';
        cmd_[i] = createButton(name.constData(), QString::fromLatin1(captions[i]),
                               TwipsRect(240 + 1320 * i, 3720, 1185, 345));
    }
}

SkinButton* frmMain::createButton(const char* name, const QString& caption, QRect twips) {
    SkinButton* button = PlaceButton(setup_.makeButton, this, name, caption, twips);
    ForwardHoverToHighlight(button);
    return button;
}

void frmMain::connectButtons() {
    connect(cmdOpen_, &SkinButton::clicked, this, &frmMain::chooseSource);
    connect(cmdSave_, &SkinButton::clicked, this, &frmMain::chooseTarget);
    connect(optMP3_, &QRadioButton::clicked, this, [this] { selectOption(optMP3_, true); });
    connect(optWAV_, &QRadioButton::clicked, this, [this] { selectOption(optWAV_, true); });
    connect(cmdConvert_, &SkinButton::clicked, run_, &ConversionRun::toggle);
    connect(cmdConfigure_, &SkinButton::clicked, this, &frmMain::openOptions);
    connect(cmd_[0], &SkinButton::clicked, this, [this] { openWavToMp3(); });
    connect(cmd_[1], &SkinButton::clicked, this, &frmMain::openHelpFile);
    connect(cmd_[2], &SkinButton::clicked, this, &frmMain::openAbout);
    connect(cmd_[3], &SkinButton::clicked, this, &frmMain::openVolumeControl);
    connect(cmd_[4], &SkinButton::clicked, this, &QWidget::close);
}

void frmMain::setTabOrder() {
    QWidget* const order[] = {txtOpen_, txtSave_,      cmdOpen_,    cmdSave_, optMP3_,
                              optWAV_,  cmdConfigure_, cmdConvert_, cmd_[0],  cmd_[1],
                              cmd_[2],  cmd_[3],       cmd_[4]};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void frmMain::startUp() {
    PaintGradient({surface_, {txtOpen_, txtSave_, optMP3_, optWAV_, pbCur_}}, 0, 0, width(),
                  height(), GradientEdge, GradientMiddle);
    frameTextBox(surface_.shapes[ShpOpen].rect, txtOpen_);
    frameTextBox(surface_.shapes[ShpSave].rect, txtSave_);
    cmdOpen_->move(cmdOpen_->x(), surface_.shapes[ShpOpen].rect.top());
    cmdSave_->move(cmdSave_->x(), surface_.shapes[ShpSave].rect.top());

    QLine& coloured = surface_.lines[Line1Top].line;
    Surface::Line& etched = surface_.lines[Line1Bottom];
    surface_.lines[Line1Top].colour = surface_.shapes[ShpOpen].border;
    etched.colour = White;
    etched.line.setLine(etched.line.x1(), coloured.y1() + 1, etched.line.x2(), coloured.y1() + 1);

    cmdConvert_->setCaption(QStringLiteral("Convert"));

    SetDefaultSettings();
    SetSettingsFiles(SettingsFilesFor(setup_.programFolder));
    LoadSettings();
    LoadSoundFontPath();
    LoadLoudness();
    RefreshCap();
}

void frmMain::frameTextBox(QRect& shape, const QLineEdit* box) {
    const QRect b = box->geometry();
    shape = QRect(b.left() - 1, b.top() - 1, b.width() + 2, b.height() + 2);
}

void frmMain::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    surface_.paint(painter);
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (AskYesNo(this, QStringLiteral("Are you sure to exit Quillory?"), platform::MsgAnswer::No))
        event->accept();
    else
        event->ignore();
}

// A key that produces a character in a path box opens that box's file dialog.
bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || (watched != txtOpen_ && watched != txtSave_))
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // Tab moves the focus; it is not typed into the box.
    const bool navigation = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (key->text().isEmpty() || navigation)
        return QWidget::eventFilter(watched, event);
    SkinButton* button = watched == txtOpen_ ? cmdOpen_ : cmdSave_;
    if (button->isEnabled()) {
        if (watched == txtOpen_)
            chooseSource();
        else
            chooseTarget();
    }
    return true;
}

void frmMain::chooseSource() {
    platform::CommonDialog dlgFile(this);
    dlgFile.CancelError = true;
    dlgFile.Filter = QStringLiteral("MIDI Files(*.mid;*.midi)|*.mid;*.midi");
    dlgFile.FileName.clear();
    dlgFile.Flags = platform::OfnReadOnly | platform::OfnFileMustExist | platform::OfnExplorer |
                    platform::OfnLongNames;
    dlgFile.InitDir = RememberedFolder(DialogFolder::Midi);
    if (dlgFile.ShowOpen() == platform::CdlCancel)
        return;
    txtOpen_->setText(dlgFile.FileName);
    RememberFolder(DialogFolder::Midi, dlgFile.FileName);
}

void frmMain::chooseTarget() {
    platform::CommonDialog dlgFile(this);
    dlgFile.CancelError = true;
    dlgFile.Filter = optMP3_->isChecked()
                         ? QStringLiteral("MP3 Files(*.mp3)|*.mp3|WAV Files(*.wav)|*.wav")
                         : QStringLiteral("WAV Files(*.wav)|*.wav|MP3 Files(*.mp3)|*.mp3");
    dlgFile.FilterIndex = 1;
    dlgFile.FileName.clear();
    dlgFile.Flags = platform::OfnOverwritePrompt | platform::OfnExplorer | platform::OfnLongNames;
    dlgFile.InitDir = RememberedFolder(DialogFolder::Target);
    if (dlgFile.ShowSave() == platform::CdlCancel)
        return;
    txtSave_->setText(dlgFile.FileName);
    RememberFolder(DialogFolder::Target, dlgFile.FileName);
    const QString extension = LastFourLower(txtSave_->text());
    selectOption(optMP3_, extension == QLatin1String(".mp3"));
    selectOption(optWAV_, extension == QLatin1String(".wav"));
}

// Option buttons form one group; selecting one clears the other and runs its click action.
void frmMain::selectOption(QRadioButton* option, bool selected) {
    option->setChecked(selected);
    if (!selected)
        return;
    QRadioButton* other = option == optMP3_ ? optWAV_ : optMP3_;
    other->setChecked(false);
    if (option == optMP3_)
        switchTargetToMp3();
    else
        switchTargetToWav();
}

void frmMain::switchTargetToMp3() {
    txtSave_->setText(
        SwitchExtension(txtSave_->text(), QStringLiteral(".wav"), QStringLiteral(".mp3")));
}

void frmMain::switchTargetToWav() {
    txtSave_->setText(
        SwitchExtension(txtSave_->text(), QStringLiteral(".mp3"), QStringLiteral(".wav")));
}

// Most free desktops have no viewer for the compiled help; the same pages as HTML, in the
// guide folder beside it, go to the browser instead. Without either file nothing happens.
void frmMain::openHelpFile() {
    const QChar separator = platform::PathSeparator();
    const QString help = setup_.programFolder + separator + QStringLiteral("quillory.chm");
    const QString guide = setup_.programFolder + separator + QStringLiteral("guide") + separator +
                          QStringLiteral("index.html");
    const bool helpThere = platform::FileExists(help);
    const bool guideThere = platform::FileExists(guide);
    if (!helpThere && !guideThere)
        return;
    const bool useGuide = guideThere && !(helpThere && platform::ShellHasViewerFor(help));
    const QString whereToLook = guideThere ? guide : help;
    platform::ShellExecute(
        QStringLiteral("open"), useGuide ? guide : help, QString(), QString(), this,
        [this, whereToLook](const QString& failure) {
            if (!failure.isEmpty())
                ShowError(this, QStringLiteral("The help could not be opened: ") + failure +
                                    QStringLiteral(".\r\nThe guide is the below file:\r\n") +
                                    whereToLook);
        });
}

void frmMain::openVolumeControl() {
    platform::ShellExecute(
        QStringLiteral("open"), QStringLiteral("sndvol32.exe "), QStringLiteral("/r"), QString(),
        this, [this](const QString& failure) {
            if (!failure.isEmpty())
                ShowError(this, QStringLiteral("The volume control could not be opened: ") +
                                    failure + QLatin1Char('.'));
        });
}

void frmMain::createConversionRun() {
    ConversionControls controls;
    controls.window = this;
    controls.txtOpen = txtOpen_;
    controls.txtSave = txtSave_;
    controls.optMP3 = optMP3_;
    controls.optWAV = optWAV_;
    controls.cmdConfigure = cmdConfigure_;
    controls.cmdOpen = cmdOpen_;
    controls.cmdSave = cmdSave_;
    controls.cmdConvert = cmdConvert_;
    controls.cmd = cmd_;
    controls.lNow = lNow_;
    controls.lTotal = lTotal_;
    controls.runEncodingStage = [this] { runEncodingStage(); };
    controls.showPercent = [this](std::int16_t percent) { pbCur_->putValue(percent); };
    controls.userAway = setup_.userAway;
    run_ = new ConversionRun(std::move(controls), setup_.makeRenderer(this), this);
}

void frmMain::runEncodingStage() {
    EncodingStageSetup stage;
    stage.makeEncoder = setup_.makeEncoder;
    stage.targetPath = [this] { return txtSave_->text(); };
    stage.makeProgressBar = [](QWidget* window) -> std::function<void(std::int16_t)> {
        ProgressBar* bar = ProgressBar::Place(window, QStringLiteral("pbCur"),
                                              TwipsRect(120, 120, 5175, 315), GaugeLayout{});
        return [bar](std::int16_t percent) { bar->putValue(percent); };
    };
    frmConvert frm(this, std::move(stage));
    frm.exec();
}

void frmMain::openOptions() {
    frmOptions options(this, setup_.makeButton);
    options.exec();
}

void frmMain::openWavToMp3(const QString& source) {
    {
        frmWav2Mp3 tool(this, setup_.makeButton, setup_.makeEncoder);
        if (!source.isEmpty())
            tool.setSource(source);
        tool.exec();
    }
    QCoreApplication::processEvents();
    DeleteTempFiles();
}

void frmMain::openAbout() {
    frmAbout about(this, setup_.makeButton);
    about.exec();
}

// F1 and Ctrl+Q do what Help and Exit do, and only while those buttons may be pressed.
void frmMain::addKeys() {
    const auto key = [this](const QKeySequence& sequence, SkinButton* button,
                            std::function<void()> action) {
        auto* shortcut = new QShortcut(sequence, this);
        connect(shortcut, &QShortcut::activated, this, [button, action = std::move(action)] {
            if (button->isEnabled())
                action();
        });
    };
    key(QKeySequence::HelpContents, cmd_[1], [this] { openHelpFile(); });
    key(QKeySequence(Qt::CTRL | Qt::Key_Q), cmd_[4], [this] { close(); });
}

void frmMain::nameForScreenReaders() {
    NameFieldsByLabels(this, {{"Label1", "txtOpen"}, {"Label2", "txtSave"}});
    DescribeByFrameCaption(this, "Label5", {"optMP3", "OptWAV"});
}

void frmMain::openFile(const QString& path) {
    switch (KindOfFile(path)) {
    case FileKind::Midi:
        txtOpen_->setText(path);
        break;
    case FileKind::Wav:
        // Once the window shows and any drop has been answered.
        QMetaObject::invokeMethod(
            this, [this, path] { openWavToMp3(path); }, Qt::QueuedConnection);
        break;
    case FileKind::Missing:
        ShowError(this, MissingFileMessage(path));
        break;
    case FileKind::Other:
        ShowError(this, UnusableFileMessage(path, QStringLiteral("a MIDI file or a WAV file")));
        break;
    }
}

// While a conversion runs the source is fixed: a drag then shows no drop cursor.
bool frmMain::acceptsDrag(const QMimeData& data) const {
    return !isConverting() && !DraggedFiles(data).isEmpty();
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptsDrag(*event->mimeData()))
        event->acceptProposedAction();
}

void frmMain::dragMoveEvent(QDragMoveEvent* event) {
    if (acceptsDrag(*event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

// Taken after the drop has been answered: a message box must not keep the file manager waiting.
void frmMain::dropEvent(QDropEvent* event) {
    if (!acceptsDrag(*event->mimeData()))
        return;
    event->acceptProposedAction();
    const QStringList files = DraggedFiles(*event->mimeData());
    QMetaObject::invokeMethod(
        this, [this, files] { takeDropped(files); }, Qt::QueuedConnection);
}

void frmMain::takeDropped(const QStringList& files) {
    openFile(files.constFirst());
    if (files.size() > 1)
        ShowInformation(this, FirstOfSeveralMessage(files.size(), files.constFirst()));
}
