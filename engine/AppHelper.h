#pragma once

#include "OleDateTime.h"
#include "OptionsStore.h"
#include "PathArray.h"
#include "SystemFolders.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The file being reported to OnFileFound. Its texts point into the walk's
// path buffer and are valid only during that call.
class CFileFind {
public:
    std::string_view FilePath() const { return m_path; }
    std::string_view FileName() const { return m_path.substr(m_nameStart); }
    // The folder without a trailing slash; "/" for a file directly in the root.
    std::string_view Folder() const { return m_path.substr(0, m_folderLen); }

    // Display forms; a name that is not UTF-8 shows replacement characters.
    QString GetFilePath() const;
    QString GetFileName() const;
    QString GetFolder() const;

private:
    friend class CAppHelper;
    std::string_view m_path;
    size_t m_nameStart = 0;
    size_t m_folderLen = 0;
};

// Walks one folder tree and hands every file that passes the skip rules to
// OnFileFound. Paths are native bytes and absolute; the walk never changes the
// working directory, follows no symbolic link below the root and reports
// regular files only.
class CAppHelper {
public:
    CAppHelper();
    CAppHelper(const CAppHelper&) = delete;
    CAppHelper& operator=(const CAppHelper&) = delete;
    virtual ~CAppHelper();

    // Loads the options, resolves the special folders, resets the ignored
    // count and stamps the start (with the end one day before it).
    void PrepareListing();
    // Lists m_strRootFolder; returns when the walk ends or is stopped.
    void StartListing();
    // The walk of one folder and, when sub-folders are searched, everything below it.
    void ParseFolder(const QByteArray& path);
    bool IsFolderIgnored(const QByteArray& path);
    bool IsRecycleBinFolder(std::string_view path) const;
    void AddFolderFileCount(const QByteArray& folder);
    int GetFolderFileCount(const QByteArray& folder) const;

    virtual void OnFileFound(const CFileFind& finder) = 0;

    int m_nFoldersParsed = 0;
    int m_nFoldersIgnored = 0;
    bool m_bIgnoreReadOnlyFiles = false;
    bool m_bIgnoreHiddenFiles = false;
    bool m_bSearchSubFolders = false;
    bool m_bIgnoreProgramsFolder = false;
    bool m_bIgnoreWindowsFolder = false;
    bool m_bIgnoreRecycleBinFolder = false;
    bool m_bIgnoreLocalAppDataFolder = false;
    bool m_bIgnoreHiddenFolders = false;
    CSystemFolders m_systemFolders;
    QByteArray m_strRootFolder;  // native path, set by the owner before StartListing
    CPathArray m_arrFiles;       // filled only by the owner's OnFileFound
    COleDateTime m_dtStart;
    COleDateTime m_dtEnd;
    bool m_bViewFilesCount = false;
    COptionsStore m_options;
    std::atomic<int> m_bListing{0};  // 1 while the walk may go on; any thread may clear it
    std::unordered_map<std::string, int> m_mapFolderFiles;  // folder -> files seen, keys exact

protected:
    // During OnFileFound: the walk's count for the folder of the file being reported.
    int CurrentFolderFileCount() const { return m_depth ? *m_frames[m_depth - 1].fileCount : 0; }

private:
    enum EntryKind : uint8_t { kFile, kReadOnlyFile, kFolder };
    struct Entry {
        uint32_t nameOffset;
        uint16_t nameLength;
        EntryKind kind;
    };
    struct Frame {
        std::string name;  // in the parent folder; the whole path for the walk's first folder
        size_t pathLength = 0;
        int fd = -1;
        int* fileCount = nullptr;
        size_t next = 0;
        std::vector<char> names;
        std::vector<Entry> entries;
    };

    bool IsFolderIgnoredAt(int dirFd, const char* statName, std::string_view path) const;
    void EnterFolder(int parentFd, const char* name);
    void ReadEntries(Frame& frame);
    int FolderFd(size_t index);
    void CloseFolderFd(Frame& frame);
    void LimitOpenFolders(size_t keep);
    void ReleaseWalkState();

    std::vector<Frame> m_frames;  // reused across folders; m_depth of them are in use
    size_t m_depth = 0;
    size_t m_lowestOpen = 0;  // no frame below this index holds an open descriptor
    int m_openFolders = 0;
    std::string m_path;           // the current entry's full path, built in place
    std::vector<char> m_direntBuffer;
    CFileFind m_finder;
};
