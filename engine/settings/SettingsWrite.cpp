#include "SettingsWrite.h"

#include "AppTexts.h"
#include "OptionsStore.h"
#include "OwnFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

namespace {

// The settings text in a private folder, for QSettings to change; on a tmpfs
// where there is one, as QSettings syncs what it writes to the disk.
class CPrivateCopy {
public:
    explicit CPrivateCopy(const QByteArray& bytes)
        : m_dir(Template())
    {
        QFile file(Path());
        m_ok = m_dir.isValid() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        file.close();
        m_ok = m_ok && file.error() == QFileDevice::NoError;
    }
    bool ok() const { return m_ok; }
    QString Path() const { return m_dir.filePath(QStringLiteral("settings.conf")); }
    bool Read(QByteArray* bytes) const
    {
        QFile file(Path());
        if (!file.open(QIODevice::ReadOnly))
            return false;
        *bytes = file.readAll();
        return file.error() == QFileDevice::NoError;
    }

private:
    static QString Template()
    {
        QString folder = QDir::tempPath();
        for (const QString& memory : {qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/dev/shm")}) {
            if (memory.startsWith(QLatin1Char('/')) && QFileInfo(memory).isDir() && QFileInfo(memory).isWritable()) {
                folder = memory;
                break;
            }
        }
        return folder + QStringLiteral("/sorvane-settings-XXXXXX");
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
};

}  // namespace

QString ConfigHome()
{
    // As QSettings places NativeFormat, UserScope files on Linux.
    const QByteArray env = qgetenv("XDG_CONFIG_HOME");
    return env.isEmpty()       ? QDir::homePath() + QStringLiteral("/.config")
           : env.startsWith('/') ? QFile::decodeName(env)
                                 : QDir::homePath() + QLatin1Char('/') + QFile::decodeName(env);
}

QString PathInConfigHome()
{
    return QString::fromUtf8(Res::kOrganisation) + QLatin1Char('/') + Res::AppTitle() + QStringLiteral(".conf");
}

// The file is read, changed by QSettings in a private copy and put back
// whole; nothing is written unless every step succeeds.
COutcome WriteSettingsValue(const QString& group, const QString& name, const QVariant& value)
{
    // The system's errno where a call failed; a refusal where a rule of ours said no.
    const auto failed = [](const char* what) {
        const int err = errno;
        return err ? COutcome::Failed(err, QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(err))))
                   : COutcome::Refused(QLatin1String(what));
    };
    COwnFile file;
    errno = 0;
    if (!file.Open(QFile::encodeName(ConfigHome()), QFile::encodeName(PathInConfigHome()), kMaxSettingsFileSize))
        return failed("the settings file is not the user's own, or cannot be reached");
    const CPrivateCopy copy(file.Bytes());
    if (!copy.ok())
        return failed("no private copy of the settings could be made");
    {
        QSettings settings(copy.Path(), QSettings::IniFormat);
        // A file QSettings cannot parse would be rewritten as the little it made of it.
        if (settings.status() != QSettings::NoError)
            return COutcome::Refused(QStringLiteral("the settings file cannot be read as settings"));
        if (!group.isEmpty())
            settings.beginGroup(group);
        settings.setValue(name, value);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return failed("the settings could not be changed");
    }
    QByteArray bytes;
    errno = 0;
    if (!copy.Read(&bytes) || !file.Replace(bytes))
        return failed("the settings file could not be replaced");
    return COutcome::Done();
}

