#pragma once

#include "Outcome.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

// A stored number with its default. Every option name and default lives in
// the table below and nowhere else.
struct COptionDef {
    const char* name;
    int defaultValue;
};

namespace Opt {
inline constexpr COptionDef IgnoreWindowsFolder{"IgnoreWindowsFolder", 1};
inline constexpr COptionDef IgnoreProgramsFolder{"IgnoreProgramsFolder", 1};
inline constexpr COptionDef IgnoreHiddenFiles{"IgnoreHiddenFiles", 1};
inline constexpr COptionDef IgnoreReadOnlyFiles{"IgnoreReadOnlyFiles", 0};
inline constexpr COptionDef SearchSubFolders{"SearchSubFolders", 1};
inline constexpr COptionDef ViewFilesCount{"ViewFilesCount", 0};
inline constexpr COptionDef IgnoreRecycleBinFolder{"IgnoreRecycleBinFolder", 0};
inline constexpr COptionDef AutoListLastFolderAtStartup{"AutoListLastFolderAtStartup", 0};
inline constexpr COptionDef IgnoreLocalAppDataFolder{"IgnoreLocalAppDataFolder", 1};
inline constexpr COptionDef IgnoreHiddenFolders{"IgnoreHiddenFolders", 1};
inline constexpr COptionDef DisplayFileList{"DisplayFileList", 0};
inline constexpr COptionDef CompareContents{"CompareContents", 0};
inline constexpr COptionDef SkipEmptyFiles{"SkipEmptyFiles", 0};
// Whether the content check keeps digests between runs to skip files it proved different.
inline constexpr COptionDef UseCache{"UseCache", 1};
// Whether the folder the results compare with is a reference, whose files are never proposed.
inline constexpr COptionDef CompareWithReference{"CompareWithReference", 1};

// Column widths: "%d Column %d" (0 = top file list, 1 = folder list) and
// "Results Column %d".
inline constexpr int kFileListWidths[] = {100, 150, 250};
inline constexpr int kFolderListWidths[] = {100, 500, 125};
inline constexpr int kResultsWidths[] = {60, 150, 250, 100, 100};

// Values outside the "Settings" group, at the top of the settings file.
inline constexpr char ApplicationLook[] = "ApplicationLook";  // a look's command id
inline constexpr char RecentFileList[] = "Recent File List";  // documents, newest first

// The window as it was left: size, place, maximised state and the folder pane's
// width (Qt's own encoding), and the top list's share of the view in thousandths.
inline constexpr char WindowGeometry[] = "WindowGeometry";
inline constexpr char WindowState[] = "WindowState";
inline constexpr COptionDef ListSplit{"ListSplit", 500};

inline constexpr char LastFolderSelected[] = "LastFolderSelected";
inline constexpr char InfoBarText[] = "InfoBarText";
inline constexpr char InfoBarTextDefault[] = "Information Bar";
// The listing's filters, as text (FileFilters.h reads them): sizes in bytes, 0 or empty for no
// limit; name patterns one per line.
inline constexpr char MinimumFileSize[] = "MinimumFileSize";
inline constexpr char MaximumFileSize[] = "MaximumFileSize";
inline constexpr char SkipNames[] = "SkipNames";
// Folders whose files the helpers never check: one percent-encoded path per line.
inline constexpr char ProtectedFolders[] = "ProtectedFolders";
// A folder the results window lists too and groups with the listed one; empty for none.
inline constexpr char CompareWithFolder[] = "CompareWithFolder";

// Every option flag of the section.
inline constexpr const COptionDef* kFlags[] = {
    &IgnoreWindowsFolder, &IgnoreProgramsFolder, &IgnoreHiddenFiles, &IgnoreReadOnlyFiles,
    &SearchSubFolders,    &ViewFilesCount,       &IgnoreRecycleBinFolder,
    &AutoListLastFolderAtStartup, &IgnoreLocalAppDataFolder, &IgnoreHiddenFolders,
    &DisplayFileList,     &CompareContents,      &SkipEmptyFiles,
    &UseCache,            &CompareWithReference,
};
// Every text value of the section.
inline constexpr const char* kTexts[] = {LastFolderSelected, InfoBarText, MinimumFileSize, MaximumFileSize, SkipNames,
                                            CompareWithFolder};

QString ColumnWidthName(int list, int column);
QString ResultsColumnWidthName(int column);
// Default of a numeric value by name; false when the name is not a number of the section.
bool NumericDefault(const QString& name, int* defaultValue);
bool IsTextValue(const QString& name);
}  // namespace Opt

// The user's settings file, of which "Settings" is one group; for reading
// only: writes go through COptionsStore. Only a regular file of at most
// kMaxSettingsFileSize bytes is used: anything else (a FIFO would block the
// reader, a huge file costs seconds and hundreds of MB per parse) reads as
// empty and is never written.
QSettings AppSettingsFile();
// Where that file is, as QSettings names it.
QString AppSettingsPath();
inline constexpr qint64 kMaxSettingsFileSize = qint64(4) << 20;

// The per-user "Settings" section. Every read looks at the settings file as
// it is now, so a value written anywhere is seen by the next reader; the file
// is parsed again only when it changed (its device, inode, size or times).
class COptionsStore {
public:
    COptionsStore();

    // The section's values as the file holds them when this is called, for a
    // run of reads that should see one state of the file and parse it once.
    class CValues {
    public:
        unsigned int ReadInt(const QString& name, int defaultValue) const;
        void ReadString(const QString& name, const QString& defaultValue, QString& out) const;
        unsigned int Read(const COptionDef& def) const { return ReadInt(QLatin1String(def.name), def.defaultValue); }
        bool IsOn(const COptionDef& def) const { return Read(def) != 0; }

    private:
        friend class COptionsStore;
        QVariant Value(const QString& name) const;
        std::shared_ptr<const struct CSettingsSnapshot> m_snapshot;
        QString m_section;
    };
    CValues Values() const;

    unsigned int ReadInt(const QString& name, int defaultValue) const;
    COutcome WriteInt(const QString& name, int value);
    void ReadString(const QString& name, const QString& defaultValue, QString& out) const;
    COutcome WriteString(const QString& name, const QString& value);
    QByteArray ReadBytes(const QString& name) const;
    COutcome WriteBytes(const QString& name, const QByteArray& value);

    unsigned int Read(const COptionDef& def) const { return ReadInt(QLatin1String(def.name), def.defaultValue); }
    bool IsOn(const COptionDef& def) const { return Read(def) != 0; }
    // Writes 1 when the value read was 0, else 0; returns the new value.
    bool Toggle(const COptionDef& def);

    void GetLastFolderSelected(QString& out) const;
    void SetLastFolderSelected(const QString& folder);
    void GetInfoBarText(QString& out) const;
    void SetInfoBarText(const QString& text);

    // Values that shadow the stored ones for the life of the process and are
    // never written (the command line's --set).
    static void SetOverride(const QString& name, const QVariant& value);
    static void ClearOverrides();
    // How many times reads have parsed the settings file so far.
    static int FileParses();

    // Called with the setting's name whenever a write does not reach the file,
    // so the window can say so in one place; any thread may write. A write is
    // refused, leaving the file as it was, when the file is not the effective
    // user's own to write (see COwnFile), has no owner write bit, or cannot be
    // parsed; a failed write leaves the file byte for byte and the next read
    // shows what the file holds.
    using WriteFailureHandler = std::function<void(const QString& name)>;
    static void SetWriteFailureHandler(WriteFailureHandler handler);

    // A value at the top of the file, outside every group (the look, the recent documents).
    static COutcome WriteOutsideSection(const QString& name, const QVariant& value);

    QString m_strSection;

private:
    static void ReportWriteFailure(const QString& name);
    COutcome WriteValue(const QString& name, const QVariant& value);
    static COutcome WriteIn(const QString& group, const QString& name, const QVariant& value);
};
