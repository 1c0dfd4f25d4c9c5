#include "OptionsStore.h"

#include "AppTexts.h"

#include <QHash>
#include <QMutex>
#include <QSettings>

#include <iterator>
#include <limits>

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
    return name == QLatin1String(LastFolderSelected) || name == QLatin1String(InfoBarText);
}

}  // namespace Opt

QSettings AppSettingsFile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(Res::kOrganisation),
                     Res::AppTitle());
}

namespace {
class CSection {
public:
    explicit CSection(const QString& group)
        : m_settings(AppSettingsFile())
    {
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

unsigned int COptionsStore::ReadInt(const QString& name, int defaultValue) const
{
    QVariant value;
    if (!FindOverride(name, &value)) {
        CSection s(m_strSection);
        value = s->value(name);
    }
    unsigned int n = 0;
    if (!value.isValid() || !ToNumber(value, &n))
        return static_cast<unsigned int>(defaultValue);
    return n;
}

bool COptionsStore::WriteInt(const QString& name, int value)
{
    CSection s(m_strSection);
    s->setValue(name, value);
    s->sync();
    if (s->status() == QSettings::NoError)
        return true;
    ReportWriteFailure(name);
    return false;
}

void COptionsStore::ReadString(const QString& name, const QString& defaultValue, QString& out) const
{
    QVariant value;
    if (!FindOverride(name, &value)) {
        CSection s(m_strSection);
        value = s->value(name);
    }
    // A list (an unquoted comma in the file) is not a plain text value.
    if (!value.isValid() || value.userType() != QMetaType::QString)
        out = defaultValue;
    else
        out = value.toString();
}

bool COptionsStore::WriteString(const QString& name, const QString& value)
{
    CSection s(m_strSection);
    s->setValue(name, value);
    s->sync();
    if (s->status() == QSettings::NoError)
        return true;
    ReportWriteFailure(name);
    return false;
}

bool COptionsStore::Toggle(const COptionDef& def)
{
    const bool on = Read(def) == 0;
    WriteInt(QLatin1String(def.name), on ? 1 : 0);
    return on;
}

void COptionsStore::GetLastFolderSelected(QString& out) const
{
    ReadString(QLatin1String(Opt::LastFolderSelected), QString(), out);
}

void COptionsStore::SetLastFolderSelected(const QString& folder)
{
    WriteString(QLatin1String(Opt::LastFolderSelected), folder);
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

bool COptionsStore::WriteBytes(const QString& name, const QByteArray& value)
{
    CSection s(m_strSection);
    s->setValue(name, value);
    s->sync();
    if (s->status() == QSettings::NoError)
        return true;
    ReportWriteFailure(name);
    return false;
}
