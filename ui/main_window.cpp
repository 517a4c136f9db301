#include "ui/main_window.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include <QActionGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

#include "ui/about_dialog.h"
#include "ui/comms_port_dialog.h"
#include "ui/panel_widget.h"
#include "ui/send_packet_dialog.h"

namespace quillon {

namespace {

const QString kOrganisation = QStringLiteral("Ostrel");
const QString kApplication = QStringLiteral("Quillon");
const QString kComKey = QStringLiteral("COM");
const QString kDeviceKey = QStringLiteral("Device");
const QString kSynchRequiredKey = QStringLiteral("Synch Required");
const QString kSaveSettingsKey = QStringLiteral("Save Settings");

// The View menu's settings, in a group of their own, so that COM, Synch
// Required and Save Settings in [General] stay exactly as they always were.
const QString kViewGroup = QStringLiteral("View");
const QString kZoomKey = QStringLiteral("Zoom");
const QString kThemeKey = QStringLiteral("Theme");
const QString kPositionKey = QStringLiteral("Position");

const QString kUnableToRead = QStringLiteral("Unable to read settings!");
const QString kUnableToSave = QStringLiteral("Unable to save settings!");

// The settings live in the user's own configuration, so a normal user can
// save them: $XDG_CONFIG_HOME/Ostrel/Quillon.conf. Values from system-wide
// files are not taken in.
class SettingsFile : public QSettings {
public:
    SettingsFile() : QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication)
    {
        setFallbacksEnabled(false);
    }
};

// A stored 4-byte integer; nothing when it is missing or not a number that
// fits 32 bits (unsigned values wrap the way the bits were stored).
std::optional<std::int32_t> ReadInt32(const QSettings& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
}

// Whether anything has been stored yet: the file on Linux; on Windows, where
// the settings are registry values, the key with values in it.
bool SettingsStored(const QSettings& settings)
{
#ifdef Q_OS_WIN
    return !settings.allKeys().isEmpty();
#else
    return QFileInfo::exists(settings.fileName());
#endif
}

// Whether the settings hold none of the three the program has always kept
// (COM, Synch Required, Save Settings) but some of the View menu's, as a
// user who wrote a zoom by hand leaves them. That is a first start: what the
// View menu keeps, there or not, never makes the three look half-written.
bool HoldsOnlyViewSettings(const QSettings& settings)
{
    for (const QString& key : {kComKey, kSynchRequiredKey, kSaveSettingsKey}) {
        if (settings.contains(key)) {
            return false;
        }
    }
    return settings.childGroups().contains(kViewGroup);
}

// The text of the settings file as it stands; nothing where the settings are
// not a file (the registry on Windows) or there is none yet.
std::optional<QByteArray> SettingsText(const QSettings& settings)
{
#ifdef Q_OS_WIN
    Q_UNUSED(settings);
    return std::nullopt;
#else
    QFile file(settings.fileName());
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
#endif
}

// One line of an INI file: its text as it stands, the group it is in, and
// the key it sets (empty for a group's title, a comment, a blank line or a
// line that sets nothing).
struct IniLine {
    QByteArray text;
    QString group;
    QString key;
};

std::vector<IniLine> IniLines(const QByteArray& text)
{
    std::vector<IniLine> lines;
    QString group = QStringLiteral("General");
    QList<QByteArray> raw = text.split('\n');
    if (!raw.isEmpty() && raw.back().isEmpty()) {
        raw.removeLast();
    }
    for (const QByteArray& line : raw) {
        const QByteArray trimmed = line.trimmed();
        QString key;
        if (trimmed.startsWith('[') && trimmed.endsWith(']')) {
            group = QString::fromUtf8(QByteArray::fromPercentEncoding(trimmed.mid(1, trimmed.size() - 2)));
        } else if (const qsizetype equals = trimmed.indexOf('='); equals > 0 && !trimmed.startsWith(';')) {
            key = QString::fromUtf8(QByteArray::fromPercentEncoding(trimmed.left(equals).trimmed()));
        }
        lines.push_back({line, group, key});
    }
    return lines;
}

// Whether a file is text a person wrote: UTF-8 without control characters,
// each group's title whole, no value without its key. A line the toolkit
// merely skips is kept; a file with others (binary junk, a half-written
// title) could keep it from reading the lines after them, so it is written
// anew, as the toolkit does.
bool ReadsAsSettings(const QByteArray& text)
{
    if (!QString::fromUtf8(text).toUtf8().startsWith(text)) {
        return false;
    }
    for (const QByteArray& line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const bool brokenTitle =
            trimmed.startsWith('[') && !(trimmed.endsWith(']') && trimmed.count('[') == 1 && trimmed.count(']') == 1);
        const bool control = std::any_of(trimmed.begin(), trimmed.end(),
                                         [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
        // A value the toolkit would carry on into the next line.
        const bool continued = trimmed.endsWith('\\');
        if (control || brokenTitle || continued || trimmed.startsWith('=')) {
            return false;
        }
    }
    return true;
}

// The values the settings toolkit reads from a text, from a file of its own
// beside the settings (its cache knows each file by its path).
std::optional<QVariantMap> ReadBack(const QString& settingsFile, const QByteArray& text)
{
    QTemporaryFile probe(QFileInfo(settingsFile).path() + QStringLiteral("/read-back-XXXXXX.conf"));
    if (!probe.open() || probe.write(text) != text.size() || !probe.flush()) {
        return std::nullopt;
    }
    const QSettings read(probe.fileName(), QSettings::IniFormat);
    QVariantMap values;
    for (const QString& key : read.allKeys()) {
        values.insert(key, read.value(key));
    }
    return values;
}

// Whether the file with the other lines kept gives the program's own values
// back as the toolkit's own file does: a line the toolkit reads in its own
// way (quotes or escapes in a group's title, say) could change them.
bool ReadsTheSame(const QString& settingsFile, const QByteArray& kept, const QByteArray& written)
{
    const std::optional<QVariantMap> fromKept = ReadBack(settingsFile, kept);
    const std::optional<QVariantMap> fromWritten = ReadBack(settingsFile, written);
    if (!fromKept || !fromWritten) {
        return false;
    }
    for (auto value = fromWritten->constBegin(); value != fromWritten->constEnd(); ++value) {
        if (fromKept->value(value.key()) != value.value()) {
            return false;
        }
    }
    return true;
}

// The keys the program writes, as "group/key".
bool OwnKey(const IniLine& line)
{
    static const QStringList own{
        QStringLiteral("General/") + kComKey,           QStringLiteral("General/") + kDeviceKey,
        QStringLiteral("General/") + kSynchRequiredKey, QStringLiteral("General/") + kSaveSettingsKey,
        kViewGroup + QLatin1Char('/') + kZoomKey,       kViewGroup + QLatin1Char('/') + kThemeKey,
        kViewGroup + QLatin1Char('/') + kPositionKey,
    };
    return !line.key.isEmpty() && own.contains(line.group + QLatin1Char('/') + line.key);
}

// The settings toolkit writes the whole file from what it could read of it:
// a line it could not read, a comment, are gone. The file before it is
// written again with only the program's own keys taken from what the
// toolkit wrote, each in its place or added to its group; every other line
// stays as it was.
bool KeepOtherLines(const QSettings& settings, const std::optional<QByteArray>& before)
{
    const std::optional<QByteArray> written = SettingsText(settings);
    if (!before || !written || !ReadsAsSettings(*before)) {
        return true;
    }
    std::vector<IniLine> fresh;
    for (IniLine& line : IniLines(*written)) {
        if (OwnKey(line)) {
            fresh.push_back(std::move(line));
        }
    }
    std::vector<IniLine> merged;
    std::vector<bool> placed(fresh.size(), false);
    for (IniLine& line : IniLines(*before)) {
        if (!OwnKey(line)) {
            merged.push_back(std::move(line));
            continue;
        }
        const auto same = std::find_if(fresh.begin(), fresh.end(), [&](const IniLine& value) {
            return value.group == line.group && value.key == line.key;
        });
        const auto index = static_cast<std::size_t>(same - fresh.begin());
        if (same != fresh.end() && !placed[index]) {
            merged.push_back(*same);
            placed[index] = true;
        }
    }
    for (std::size_t index = 0; index < fresh.size(); ++index) {
        if (placed[index]) {
            continue;
        }
        const IniLine& value = fresh[index];
        const auto last = std::find_if(merged.rbegin(), merged.rend(), [&](const IniLine& line) {
            return line.group == value.group && !line.text.trimmed().isEmpty();
        });
        if (last != merged.rend()) {
            merged.insert(last.base(), value);
            continue;
        }
        if (!merged.empty() && !merged.back().text.trimmed().isEmpty()) {
            merged.push_back({QByteArray(), value.group, QString()});
        }
        merged.push_back({'[' + QUrl::toPercentEncoding(value.group) + ']', value.group, QString()});
        merged.push_back(value);
    }
    QByteArray text;
    for (const IniLine& line : merged) {
        text += line.text + '\n';
    }
    if (text == *written || !ReadsTheSame(settings.fileName(), text, *written)) {
        return true;
    }
    QSaveFile file(settings.fileName());
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

// A file to write a picture of the display in, asked for in the pictures
// folder; the suffix added when none was typed, empty when the user gave up.
QString AskPicturePath(QWidget* parent, const QString& title, const QString& suffix, const QString& filter)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    QString path =
        QFileDialog::getSaveFileName(parent, title, QDir(folder).filePath(QStringLiteral("display.") + suffix), filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) {
        path += QLatin1Char('.') + suffix;
    }
    return path;
}

} // namespace

MainWindow::MainWindow(const WindowContext& context, QWidget* parent)
    : QMainWindow(parent), context_(context), runPort_(context.runPort)
{
    if (runPort_ && runPort_->kind == PortTarget::Kind::Virtual) {
        virtualPort_ = runPort_;
    }
    comPort_ = 1;
    saveSettings_ = 0;
    context_.host.engine().SetLinkEnabled(true);
    ReadSettings();
    OpenStartPort();

    // No sizing border and no maximise box; the title is the application's
    // alone.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(kApplication);
    setWindowIcon(QIcon(QStringLiteral(":/quillon.png")));
    panel_ = new PanelWidget(context_.host, this);
    setCentralWidget(panel_);
    // The screen stays as the recording left it; the title says why nothing
    // moves any more.
    connect(panel_, &PanelWidget::lineEndedChanged, this, [this](bool ended) {
        setWindowTitle(ended ? kApplication + QStringLiteral(" - replay ended") : kApplication);
    });
    CreateMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    ReadViewSettings(SettingsFile());
}

MainWindow::~MainWindow()
{
    if (const QString error = StopRecording(); !error.isEmpty()) {
        context_.messages.ShowMessage(MessageIcon::Error, error);
    }
}

void MainWindow::TellDeviceEnded(const QString& how)
{
    setWindowTitle(kApplication + QStringLiteral(" - the device ended (%1)").arg(how));
}

PortTarget MainWindow::CurrentPort() const
{
    if (runPort_) {
        return *runPort_;
    }
    if (!devicePath_.isEmpty()) {
        return PortTarget::Device(devicePath_);
    }
    return PortTarget::Com(comPort_);
}

void MainWindow::SetCurrentPort(const PortTarget& target)
{
    switch (target.kind) {
    case PortTarget::Kind::ComNumber:
        SetComPort(target.number);
        devicePath_.clear();
        runPort_.reset();
        portChosen_ = true;
        break;
    case PortTarget::Kind::DevicePath:
        devicePath_ = target.path;
        runPort_.reset();
        portChosen_ = true;
        break;
    case PortTarget::Kind::Virtual:
        runPort_ = target;
        break;
    }
}

void MainWindow::OpenStartPort()
{
    const PortTarget target = CurrentPort();
    if (context_.port.Open(target) != 0) {
        context_.messages.ShowMessage(
            MessageIcon::Error,
            PortFailureMessage(QStringLiteral("Error Initialising %1\r\nCheck correct COM port has been selected")
                                   .arg(target.Describe()),
                               context_.port.lastOpenError(), target, context_.deviceDirectory));
    }
}

bool MainWindow::ReadSettings()
{
    SettingsFile settings;
    // A file that cannot be opened is a missing key, and one with only the
    // View menu's settings a first start; one that opens but is malformed
    // holds values that cannot be read, reported below.
    if (!SettingsStored(settings) || settings.status() == QSettings::AccessError || HoldsOnlyViewSettings(settings)) {
        return false;
    }
    std::optional<std::int32_t> lastRead = ReadInt32(settings, kSaveSettingsKey);
    saveSettings_ = lastRead.value_or(0);
    if (saveSettings_ != 0) {
        // Any number is used as it is: one that names no port fails to open
        // with the message that names it.
        if (const auto com = ReadInt32(settings, kComKey)) {
            comPort_ = *com;
        }
        devicePath_ = settings.value(kDeviceKey).toString();
        lastRead = ReadInt32(settings, kSynchRequiredKey);
        // A missing value turns the mode on.
        const bool synchRequired = !lastRead || *lastRead != 0;
        context_.host.engine().SetSynchRequired(synchRequired);
    }
    if (!lastRead) {
        context_.messages.ShowMessage(MessageIcon::Exclamation, kUnableToRead);
    }
    return lastRead.has_value();
}

bool MainWindow::WriteSettings()
{
    SettingsFile settings;
    if (!settings.isWritable()) {
        context_.messages.ShowMessage(MessageIcon::Exclamation, kUnableToSave);
        return false;
    }
    const std::optional<QByteArray> before = SettingsText(settings);
    settings.setValue(kComKey, comPort_);
    if (!devicePath_.isEmpty()) {
        settings.setValue(kDeviceKey, devicePath_);
    } else if (portChosen_) {
        settings.remove(kDeviceKey);
    }
    settings.setValue(kSynchRequiredKey, context_.host.engine().synchRequired() ? 1 : 0);
    settings.setValue(kSaveSettingsKey, saveSettings_);
    WriteViewSettings(settings);
    settings.sync();
    // A malformed old file leaves FormatError behind although it has just
    // been replaced; only a failed write is a failure to save.
    if (settings.status() == QSettings::AccessError || !KeepOtherLines(settings, before)) {
        context_.messages.ShowMessage(MessageIcon::Exclamation, kUnableToSave);
        return false;
    }
    return true;
}

bool MainWindow::IsCommand(int id)
{
    switch (id) {
    case kCommsPortCommand:
    case kAboutCommand:
    case kSendPacketCommand:
    case kSynchRequiredCommand:
    case kSaveSettingsCommand:
    case kRecordDisplayCommand:
        return true;
    default:
        return false;
    }
}

bool MainWindow::OnCommand(int id)
{
    switch (id) {
    case kCommsPortCommand:
        OnCommsPort();
        return true;
    case kAboutCommand:
        OnAppAbout();
        return true;
    case kSendPacketCommand:
        OnSendPacket();
        return true;
    case kSynchRequiredCommand:
        OnSynchRequired();
        return true;
    case kSaveSettingsCommand:
        OnSaveSettings();
        return true;
    case kRecordDisplayCommand:
        OnRecordDisplay();
        return true;
    default:
        return false;
    }
}

void MainWindow::CreateMenus()
{
    QMenuBar* bar = menuBar();
    bar->setNativeMenuBar(false);
    const auto addCommand = [this](auto* owner, const QString& text, int id, bool checkable) {
        QAction* action = owner->addAction(text);
        action->setData(id);
        action->setCheckable(checkable);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        return action;
    };
    QMenu* options = bar->addMenu(QStringLiteral("&Options"));
    addCommand(options, QStringLiteral("Comms Port..."), kCommsPortCommand, false);
    synchRequiredAction_ = addCommand(options, QStringLiteral("Synch. Required"), kSynchRequiredCommand, true);
    options->addSeparator();
    saveSettingsAction_ = addCommand(options, QStringLiteral("Save Settings"), kSaveSettingsCommand, true);
    CreateViewMenu();
    addCommand(bar, QStringLiteral("About Quillon..."), kAboutCommand, false);
    connect(options, &QMenu::aboutToShow, this, &MainWindow::UpdateMenuChecks);
}

void MainWindow::CreateViewMenu()
{
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    const auto addAction = [this](QMenu* menu, const QString& text, const QList<QKeySequence>& keys,
                                  const std::function<void()>& run) {
        QAction* action = menu->addAction(text);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, run);
        return action;
    };
    // Ctrl+= as well: on most keyboards + is the shifted =.
    addAction(view, QStringLiteral("Zoom &In"), {Qt::CTRL | Qt::Key_Plus, Qt::CTRL | Qt::Key_Equal},
              [this] { SetZoom(panel_->zoom() + 1); });
    addAction(view, QStringLiteral("Zoom &Out"), {Qt::CTRL | Qt::Key_Minus}, [this] { SetZoom(panel_->zoom() - 1); });
    addAction(view, QStringLiteral("&Actual Size"), {Qt::CTRL | Qt::Key_0}, [this] { SetZoom(PanelWidget::kMinZoom); });

    QMenu* zoom = view->addMenu(QStringLiteral("&Zoom"));
    zoomGroup_ = new QActionGroup(this);
    for (int factor = PanelWidget::kMinZoom; factor <= PanelWidget::kMaxZoom; ++factor) {
        QAction* action = addAction(zoom, QStringLiteral("&%1x").arg(factor), {}, [this, factor] { SetZoom(factor); });
        action->setCheckable(true);
        action->setData(factor);
        zoomGroup_->addAction(action);
    }
    // The screen may have changed since: only the zooms that fit it now.
    connect(zoom, &QMenu::aboutToShow, this, &MainWindow::UpdateViewChecks);
    QMenu* colours = view->addMenu(QStringLiteral("Display &Colours"));
    themeGroup_ = new QActionGroup(this);
    for (const DisplayTheme& theme : kDisplayThemes) {
        const QString key = QString::fromLatin1(theme.key);
        QAction* action = addAction(colours, QString::fromUtf8(theme.name), {}, [this, key] { SetTheme(key); });
        action->setCheckable(true);
        action->setData(key);
        themeGroup_->addAction(action);
    }

    view->addSeparator();
    addAction(view, QStringLiteral("&Copy Display"), {Qt::CTRL | Qt::Key_C}, [this] { CopyDisplay(panel_->zoom()); });
    addAction(view, QStringLiteral("Copy Display at &1:1"), {Qt::CTRL | Qt::SHIFT | Qt::Key_C},
              [this] { CopyDisplay(1); });
    addAction(view, QStringLiteral("&Save Display As..."), {Qt::CTRL | Qt::Key_S}, [this] { OnSaveDisplayAs(); });
    recordAction_ =
        addAction(view, QStringLiteral("&Record Display..."), {}, [this] { OnCommand(kRecordDisplayCommand); });
    recordAction_->setData(static_cast<int>(kRecordDisplayCommand));
    view->addSeparator();
    addAction(view, QStringLiteral("&Protocol Monitor"), {Qt::CTRL | Qt::Key_M},
              [this] { emit protocolMonitorRequested(); });
    UpdateViewChecks();
}

void MainWindow::UpdateViewChecks()
{
    const int largest = LargestZoomThatFits();
    for (QAction* action : zoomGroup_->actions()) {
        action->setChecked(action->data().toInt() == panel_->zoom());
        action->setEnabled(action->data().toInt() <= largest);
    }
    const QString theme = QString::fromLatin1(panel_->theme().key);
    for (QAction* action : themeGroup_->actions()) {
        action->setChecked(action->data().toString() == theme);
    }
}

int MainWindow::LargestZoomThatFits() const
{
    const QScreen* where = screen();
    if (where == nullptr) {
        return PanelWidget::kMaxZoom;
    }
    // What the window adds round the panel: the menu bar and, once the
    // window manager has framed it, the frame.
    const QSize chrome = frameGeometry().size() - geometry().size() + QSize(0, menuBar()->sizeHint().height());
    const QSize room = where->availableGeometry().size();
    int zoom = PanelWidget::kMaxZoom;
    while (zoom > PanelWidget::kMinZoom) {
        const QSize needed = PanelWidget::kPanelSize * zoom + chrome;
        if (needed.width() <= room.width() && needed.height() <= room.height()) {
            break;
        }
        --zoom;
    }
    return zoom;
}

void MainWindow::SetZoom(int zoom)
{
    const int before = panel_->zoom();
    panel_->SetZoom(std::min(zoom, LargestZoomThatFits()));
    UpdateViewChecks();
    KeepOnScreen();
    if (panel_->zoom() != before) {
        emit zoomChanged(panel_->zoom());
    }
}

void MainWindow::KeepOnScreen()
{
    // A window that grew past the screen's edge comes back inside it.
    const QScreen* where = screen();
    if (where == nullptr || !isVisible()) {
        return;
    }
    layout()->activate();
    const QRect room = where->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveRight(std::min(frame.right(), room.right()));
    frame.moveBottom(std::min(frame.bottom(), room.bottom()));
    frame.moveLeft(std::max(frame.left(), room.left()));
    frame.moveTop(std::max(frame.top(), room.top()));
    if (frame.topLeft() != frameGeometry().topLeft()) {
        move(frame.topLeft());
    }
}

void MainWindow::SetTheme(const QString& key)
{
    const auto found = std::find_if(kDisplayThemes.begin(), kDisplayThemes.end(),
                                    [&](const DisplayTheme& theme) { return key == QLatin1String(theme.key); });
    panel_->SetTheme(found != kDisplayThemes.end() ? *found : kDisplayThemes[0]);
    UpdateViewChecks();
}

void MainWindow::CopyDisplay(int scale)
{
    QGuiApplication::clipboard()->setImage(panel_->DisplayImage(scale));
}

bool MainWindow::SaveDisplay(const QString& path)
{
    if (!panel_->DisplayImage(panel_->zoom()).save(path, "PNG")) {
        context_.messages.ShowMessage(MessageIcon::Error, QStringLiteral("Unable to save %1").arg(path));
        return false;
    }
    return true;
}

void MainWindow::OnSaveDisplayAs()
{
    const QString path = AskPicturePath(this, QStringLiteral("Save Display As"), QStringLiteral("png"),
                                        QStringLiteral("PNG pictures (*.png)"));
    if (!path.isEmpty()) {
        SaveDisplay(path);
    }
}

void MainWindow::TakeRecording(std::unique_ptr<DisplayFilm> film, const QString& path)
{
    film_ = std::move(film);
    filmPath_ = path;
    recordAction_->setText(QStringLiteral("Stop &Recording"));
}

bool MainWindow::StartRecording(const QString& path)
{
    PanelHost& host = context_.host;
    auto film = std::make_unique<DisplayFilm>(host.engine().display());
    std::string error;
    if (!film->Open(QFile::encodeName(path).toStdString(), host.clock().NowMicros(), error)) {
        context_.messages.ShowMessage(
            MessageIcon::Error,
            QStringLiteral("Unable to record the display: %1").arg(QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    film->Follow(host, host.clock());
    TakeRecording(std::move(film), path);
    return true;
}

QString MainWindow::StopRecording()
{
    if (!film_) {
        return {};
    }
    const bool written = film_->Finish(context_.host.clock().NowMicros());
    film_.reset();
    recordAction_->setText(QStringLiteral("&Record Display..."));
    return written ? QString() : QStringLiteral("Unable to write the whole film of the display to %1").arg(filmPath_);
}

void MainWindow::OnRecordDisplay()
{
    if (film_) {
        if (const QString error = StopRecording(); !error.isEmpty()) {
            context_.messages.ShowMessage(MessageIcon::Error, error);
        }
        return;
    }
    const QString path = AskPicturePath(this, QStringLiteral("Record Display"), QStringLiteral("gif"),
                                        QStringLiteral("GIF animations (*.gif)"));
    if (!path.isEmpty()) {
        StartRecording(path);
    }
}

void MainWindow::ReadViewSettings(const QSettings& settings)
{
    const QString prefix = kViewGroup + QLatin1Char('/');
    SetZoom(settings.value(prefix + kZoomKey, PanelWidget::kMinZoom).toInt());
    SetTheme(settings.value(prefix + kThemeKey).toString());
    const QVariant position = settings.value(prefix + kPositionKey);
    if (position.canConvert<QPoint>()) {
        storedPosition_ = position.toPoint();
    }
}

void MainWindow::WriteViewSettings(QSettings& settings) const
{
    settings.beginGroup(kViewGroup);
    settings.setValue(kZoomKey, panel_->zoom());
    settings.setValue(kThemeKey, QString::fromLatin1(panel_->theme().key));
    if (shown_) {
        settings.setValue(kPositionKey, pos());
    }
    settings.endGroup();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (shown_) {
        return;
    }
    shown_ = true;
    // Only onto a screen that is still there: a monitor unplugged since
    // would leave the window out of sight.
    if (storedPosition_ && QGuiApplication::screenAt(*storedPosition_) != nullptr) {
        move(*storedPosition_);
    }
    // Now framed and on its screen: a stored zoom taller than that screen
    // comes down to one that fits.
    SetZoom(panel_->zoom());
}

void MainWindow::UpdateMenuChecks()
{
    synchRequiredAction_->setChecked(context_.host.engine().synchRequired());
    saveSettingsAction_->setChecked(saveSettings_ != 0);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Written on every close, whatever "Save Settings" says; only the reading
    // at start looks at it.
    WriteSettings();
    event->accept();
    emit closed();
}

void MainWindow::OnCommsPort()
{
    CommsPortDialog dialog(*this);
    dialog.exec();
}

void MainWindow::OnSynchRequired()
{
    context_.host.engine().SetSynchRequired(!context_.host.engine().synchRequired());
}

void MainWindow::OnSaveSettings()
{
    saveSettings_ = saveSettings_ == 0 ? 1 : 0;
}

void MainWindow::OnAppAbout()
{
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::OnSendPacket()
{
    SendPacketDialog dialog(context_.host.engine(), panel_);
    dialog.exec();
}

} // namespace quillon
