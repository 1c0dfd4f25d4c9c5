#include "OptionsStore.h"

#include "AppTexts.h"
#include "PathArray.h"
#include "SettingsWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSettings>

#include <atomic>
#include <ctime>
#include <iterator>
#include <limits>
#include <sys/stat.h>

namespace {

QMutex g_overrideLock;
QHash<QString, QVariant>& Overrides()
{
    static QHash<QString, QVariant> overrides;
    return overrides;
}

bool FindOverride(const QString& name, QVariant* value)
{
    QMutexLocker lock(&g_overrideLock);
    const auto& map = Overrides();
    auto it = map.constFind(name);
    if (it == map.constEnd())
        return false;
    *value = it.value();
    return true;
}

// A value that is not a whole number (or is out of the 32-bit range) reads as
// the default, as a registry value of the wrong type would.
bool ToNumber(const QVariant& value, unsigned int* out)
{
    bool ok = false;
    const qlonglong n = value.toString().trimmed().toLongLong(&ok);
    if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<unsigned int>::max())
        return false;
    *out = static_cast<unsigned int>(n);
    return true;
}

}  // namespace

namespace Opt {

QString ColumnWidthName(int list, int column)
{
    return QStringLiteral("%1 Column %2").arg(list).arg(column);
}

QString ResultsColumnWidthName(int column)
{
    return QStringLiteral("Results Column %1").arg(column);
}

bool NumericDefault(const QString& name, int* defaultValue)
{
    for (const COptionDef* def : kFlags) {
        if (name == QLatin1String(def->name)) {
            *defaultValue = def->defaultValue;
            return true;
        }
    }
    auto inTable = [&](const int* widths, int count, auto nameOf) {
        for (int i = 0; i < count; ++i) {
            if (name == nameOf(i)) {
                *defaultValue = widths[i];
                return true;
            }
        }
        return false;
    };
    return inTable(kFileListWidths, int(std::size(kFileListWidths)), [](int i) { return ColumnWidthName(0, i); })
        || inTable(kFolderListWidths, int(std::size(kFolderListWidths)), [](int i) { return ColumnWidthName(1, i); })
        || inTable(kResultsWidths, int(std::size(kResultsWidths)), [](int i) { return ResultsColumnWidthName(i); });
}

bool IsTextValue(const QString& name)
{
    for (const char* text : kTexts) {
        if (name == QLatin1String(text))
            return true;
    }
    return false;
}

}  // namespace Opt

namespace {

// What a look at the settings file found; equal stamps mean an unchanged file.
struct CFileStamp {
    enum State { Missing, Usable, Unusable } state = Missing;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime = {};
    timespec ctime = {};

    bool operator==(const CFileStamp& o) const
    {
        return state == o.state && dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec
            && mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

CFileStamp LookAtSettingsFile()
{
    CFileStamp stamp;
    struct stat st;
    // A file that cannot be looked at (no access, a missing folder) cannot be
    // opened either: QSettings finds it empty without blocking.
    if (stat(QFile::encodeName(AppSettingsPath()).constData(), &st) != 0)
        return stamp;
    stamp.state = S_ISREG(st.st_mode) && st.st_size <= kMaxSettingsFileSize ? CFileStamp::Usable : CFileStamp::Unusable;
    stamp.dev = st.st_dev;
    stamp.ino = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtime = st.st_mtim;
    stamp.ctime = st.st_ctim;
    return stamp;
}

// For reading only. QSettings keeps every file it has read in a process-wide
// cache, together with values set on it that could not be written, so the
// settings file is never written through QSettings: writes go through a
// private copy and move each version's time on (see COwnFile::Replace), which
// the cache, trusting an unchanged size and time to the millisecond, needs.
QSettings SettingsFor(const CFileStamp& stamp)
{
    if (stamp.state == CFileStamp::Unusable)
        return QSettings(QString(), QSettings::IniFormat);  // no file: reads nothing
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(Res::kOrganisation),
                     Res::AppTitle());
}

}  // namespace

QString AppSettingsPath()
{
    return ConfigHome() + QLatin1Char('/') + PathInConfigHome();
}

QSettings AppSettingsFile()
{
    return SettingsFor(LookAtSettingsFile());
}

// The known values of one section as read from one state of the file.
struct CSettingsSnapshot {
    CFileStamp stamp;
    QString section;
    QHash<QString, QVariant> values;
    // Reused only when the file had not changed for a while before it was
    // read: a change within the file system's time granularity of the read
    // could otherwise leave the stamp as it was.
    bool reusable = false;
};

namespace {

QMutex g_snapshotLock;
std::shared_ptr<const CSettingsSnapshot> g_snapshot;
std::atomic<int> g_fileParses{0};

bool IsKnownName(const QString& name)
{
    int unused = 0;
    return Opt::IsTextValue(name) || Opt::NumericDefault(name, &unused);
}

QStringList KnownNames()
{
    QStringList names;
    for (const char* text : Opt::kTexts)
        names << QLatin1String(text);
    for (const COptionDef* def : Opt::kFlags)
        names << QLatin1String(def->name);
    for (int i = 0; i < int(std::size(Opt::kFileListWidths)); ++i)
        names << Opt::ColumnWidthName(0, i);
    for (int i = 0; i < int(std::size(Opt::kFolderListWidths)); ++i)
        names << Opt::ColumnWidthName(1, i);
    for (int i = 0; i < int(std::size(Opt::kResultsWidths)); ++i)
        names << Opt::ResultsColumnWidthName(i);
    return names;
}

std::shared_ptr<const CSettingsSnapshot> Snapshot(const QString& section)
{
    QMutexLocker lock(&g_snapshotLock);
    const CFileStamp stamp = LookAtSettingsFile();
    if (g_snapshot && g_snapshot->reusable && g_snapshot->section == section && g_snapshot->stamp == stamp)
        return g_snapshot;

    auto snapshot = std::make_shared<CSettingsSnapshot>();
    snapshot->stamp = stamp;
    snapshot->section = section;
    snapshot->reusable = true;
    if (stamp.state == CFileStamp::Usable) {
        timespec now = {};
        clock_gettime(CLOCK_REALTIME, &now);
        snapshot->reusable = stamp.mtime.tv_sec < now.tv_sec - 2;
        QSettings file = SettingsFor(stamp);
        file.beginGroup(section);
        for (const QString& name : KnownNames()) {
            QVariant value = file.value(name);
            if (value.isValid())
                snapshot->values.insert(name, std::move(value));
        }
        ++g_fileParses;
    }
    g_snapshot = snapshot;
    return snapshot;
}

// After a write of our own the stamp might not show it (same size, reused
// inode, the same clock tick), so the next read parses again.
void ForgetSnapshot()
{
    QMutexLocker lock(&g_snapshotLock);
    g_snapshot.reset();
}

}  // namespace

namespace {
class CSection {
public:
    // An empty group: the values at the top of the file.
    explicit CSection(const QString& group)
        : m_settings(SettingsFor(LookAtSettingsFile()))
    {
        if (!group.isEmpty())
            m_settings.beginGroup(group);
    }
    QSettings& operator*() { return m_settings; }
    QSettings* operator->() { return &m_settings; }

private:
    QSettings m_settings;
};
}  // namespace

COptionsStore::COptionsStore()
    : m_strSection(QStringLiteral("Settings"))
{
}

COptionsStore::CValues COptionsStore::Values() const
{
    CValues values;
    values.m_snapshot = Snapshot(m_strSection);
    values.m_section = m_strSection;
    return values;
}

QVariant COptionsStore::CValues::Value(const QString& name) const
{
    QVariant value;
    if (FindOverride(name, &value))
        return value;
    if (IsKnownName(name))
        return m_snapshot->values.value(name);
    CSection s(m_section);  // a name the snapshot does not keep
    return s->value(name);
}

unsigned int COptionsStore::ReadInt(const QString& name, int defaultValue) const
{
    return Values().ReadInt(name, defaultValue);
}

void COptionsStore::ReadString(const QString& name, const QString& defaultValue, QString& out) const
{
    Values().ReadString(name, defaultValue, out);
}

unsigned int COptionsStore::CValues::ReadInt(const QString& name, int defaultValue) const
{
    const QVariant value = Value(name);
    unsigned int n = 0;
    if (!value.isValid() || !ToNumber(value, &n))
        return static_cast<unsigned int>(defaultValue);
    return n;
}

COutcome COptionsStore::WriteValue(const QString& name, const QVariant& value)
{
    return WriteIn(m_strSection, name, value);
}

COutcome COptionsStore::WriteOutsideSection(const QString& name, const QVariant& value)
{
    return WriteIn(QString(), name, value);
}

COutcome COptionsStore::WriteIn(const QString& group, const QString& name, const QVariant& value)
{
    ForgetSnapshot();
    const COutcome written = WriteSettingsValue(group, name, value);
    ForgetSnapshot();
    if (!written)
        ReportWriteFailure(name);
    return written;
}

COutcome COptionsStore::WriteInt(const QString& name, int value)
{
    return WriteValue(name, value);
}

void COptionsStore::CValues::ReadString(const QString& name, const QString& defaultValue, QString& out) const
{
    const QVariant value = Value(name);
    // A list (an unquoted comma in the file) is not a plain text value.
    if (!value.isValid() || value.userType() != QMetaType::QString)
        out = defaultValue;
    else
        out = value.toString();
}

COutcome COptionsStore::WriteString(const QString& name, const QString& value)
{
    return WriteValue(name, value);
}

bool COptionsStore::Toggle(const COptionDef& def)
{
    const bool on = Read(def) == 0;
    WriteInt(QLatin1String(def.name), on ? 1 : 0);
    return on;
}

void COptionsStore::GetLastFolderSelected(QString& out) const
{
    const QVariant value = Values().Value(QLatin1String(Opt::LastFolderSelected));
    if (value.userType() == QMetaType::QByteArray) {
        const QByteArray bytes = value.toByteArray();
        out = DecodeNativeExact(std::string_view(bytes.constData(), size_t(bytes.size())));
        return;
    }
    ReadString(QLatin1String(Opt::LastFolderSelected), QString(), out);
}

void COptionsStore::SetLastFolderSelected(const QString& folder)
{
    // Text while the name is UTF-8, as ever; its bytes when not, since text would lose them.
    const QByteArray bytes = EncodeNativeExact(folder);
    if (QString::fromUtf8(bytes) == folder)
        WriteString(QLatin1String(Opt::LastFolderSelected), folder);
    else
        WriteBytes(QLatin1String(Opt::LastFolderSelected), bytes);
}

void COptionsStore::GetInfoBarText(QString& out) const
{
    ReadString(QLatin1String(Opt::InfoBarText), QLatin1String(Opt::InfoBarTextDefault), out);
}

void COptionsStore::SetInfoBarText(const QString& text)
{
    WriteString(QLatin1String(Opt::InfoBarText), text);
}

void COptionsStore::SetOverride(const QString& name, const QVariant& value)
{
    QMutexLocker lock(&g_overrideLock);
    Overrides().insert(name, value);
}

int COptionsStore::FileParses()
{
    return g_fileParses.load();
}

void COptionsStore::ClearOverrides()
{
    QMutexLocker lock(&g_overrideLock);
    Overrides().clear();
}

namespace {
QMutex g_failureLock;
COptionsStore::WriteFailureHandler& FailureHandler()
{
    static COptionsStore::WriteFailureHandler handler;
    return handler;
}
}  // namespace

void COptionsStore::SetWriteFailureHandler(WriteFailureHandler handler)
{
    QMutexLocker lock(&g_failureLock);
    FailureHandler() = std::move(handler);
}

void COptionsStore::ReportWriteFailure(const QString& name)
{
    WriteFailureHandler handler;
    {
        QMutexLocker lock(&g_failureLock);
        handler = FailureHandler();
    }
    if (handler)
        handler(name);
}

QByteArray COptionsStore::ReadBytes(const QString& name) const
{
    CSection s(m_strSection);
    const QVariant value = s->value(name);
    return value.userType() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

COutcome COptionsStore::WriteBytes(const QString& name, const QByteArray& value)
{
    return WriteValue(name, value);
}
