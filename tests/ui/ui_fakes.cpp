#include "tests/ui/ui_fakes.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>

namespace quillon::testing {

void RecordingMessages::ShowMessage(MessageIcon icon, const QString& text)
{
    shown.emplace_back(icon, text);
    if (whileShown) {
        whileShown();
    }
}

int FakePortControl::Open(const PortTarget& target)
{
    calls.push_back(QStringLiteral("open"));
    opened.push_back(target);
    linkEnabledAtOpen.push_back(engine_.linkEnabled());
    return failStep;
}

#ifdef Q_OS_WIN

// Windows keeps the settings in the registry, which has no other place for
// them: the sandbox is the program's own key, emptied before and after.
namespace {

QSettings RegistryKey()
{
    return QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\Ostrel\\Quillon"), QSettings::NativeFormat);
}

} // namespace

SettingsSandbox::SettingsSandbox()
{
    RegistryKey().clear();
}

SettingsSandbox::~SettingsSandbox()
{
    RegistryKey().clear();
}

QString SettingsSandbox::FilePath() const
{
    return RegistryKey().fileName();
}

void SettingsSandbox::Write(const std::vector<std::pair<QString, QVariant>>& values) const
{
    QSettings key = RegistryKey();
    key.clear();
    for (const auto& [name, value] : values) {
        key.setValue(name, value);
    }
}

QVariant SettingsSandbox::Value(const QString& name) const
{
    return RegistryKey().value(name);
}

bool SettingsSandbox::FileExists() const
{
    return !RegistryKey().allKeys().isEmpty();
}

#else

SettingsSandbox::SettingsSandbox()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
}

SettingsSandbox::~SettingsSandbox()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QDir::homePath() + QStringLiteral("/.config"));
}

QString SettingsSandbox::FilePath() const
{
    return dir_.filePath(QStringLiteral("Ostrel/Quillon.conf"));
}

void SettingsSandbox::Write(const std::vector<std::pair<QString, QVariant>>& values) const
{
    QSettings file(FilePath(), QSettings::IniFormat);
    file.clear();
    for (const auto& [key, value] : values) {
        file.setValue(key, value);
    }
}

QVariant SettingsSandbox::Value(const QString& key) const
{
    const QSettings file(FilePath(), QSettings::IniFormat);
    return file.value(key);
}

bool SettingsSandbox::FileExists() const
{
    return QFile::exists(FilePath());
}

#endif

void SettingsSandbox::MakeUnwritable()
{
    // A plain file where the settings directory would have to be: no user,
    // root included, can create anything below it.
    const QString blocker = dir_.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    file.open(QIODevice::WriteOnly);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
}

void ExpectTextsFit(const QWidget& dialog)
{
    for (const QWidget* control : dialog.findChildren<QWidget*>()) {
        if (qobject_cast<const QLabel*>(control) != nullptr ||
            qobject_cast<const QAbstractButton*>(control) != nullptr) {
            EXPECT_GE(control->width(), control->sizeHint().width())
                << control->metaObject()->className() << " in " << dialog.windowTitle().toStdString();
        }
    }
}

std::unique_ptr<MainWindow> WindowTest::MakeWindow(std::optional<PortTarget> runPort, const QString& deviceDirectory)
{
    return std::make_unique<MainWindow>(rig.Context(
        messages, std::move(runPort), deviceDirectory.isEmpty() ? emptyDeviceDirectory.path() : deviceDirectory));
}

ProgramRun RunProgram(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess program;
    program.setProcessEnvironment(environment);
    QSignalSpy finished(&program, &QProcess::finished);
    program.start(QStringLiteral(QUILLON_EXECUTABLE), arguments);
    ProgramRun run;
    if (!finished.wait(20000)) {
        program.kill();
        program.waitForFinished();
        return run;
    }
    run.exitCode = program.exitCode();
    run.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(program.readAllStandardError());
    return run;
}

} // namespace quillon::testing
