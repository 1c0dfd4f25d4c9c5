#pragma once

#include "FileFilters.h"
#include "FolderFileCounts.h"
#include "OleDateTime.h"
#include "OptionsStore.h"
#include "PathArray.h"
#include "SystemFolders.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The file being reported to OnFileFound. Its texts point into the walk's
// path buffer and are valid only during that call.
class CFileFind {
public:
    std::string_view FilePath() const { return m_path; }
    std::string_view FileName() const { return m_path.substr(m_nameStart); }
    // The folder without a trailing slash; "/" for a file directly in the root.
    std::string_view Folder() const { return m_path.substr(0, m_folderLen); }
    // True for the first file of its folder reported in this listing.
    bool IsFirstInFolder() const { return m_firstInFolder; }

    // Display forms; a name that is not UTF-8 shows replacement characters.
    QString GetFilePath() const;
    QString GetFileName() const;
    QString GetFolder() const;

private:
    friend class CAppHelper;
    std::string_view m_path;
    size_t m_nameStart = 0;
    size_t m_folderLen = 0;
    bool m_firstInFolder = false;
};

// The rules of one walk. LoadOptions reads them from the settings; tests and
// benchmarks may change them before they give them to PrepareListing.
struct CWalkOptions {
    bool m_bIgnoreReadOnlyFiles = false;
    bool m_bIgnoreHiddenFiles = false;
    bool m_bSearchSubFolders = false;
    bool m_bIgnoreProgramsFolder = false;
    bool m_bIgnoreWindowsFolder = false;
    bool m_bIgnoreRecycleBinFolder = false;
    bool m_bIgnoreLocalAppDataFolder = false;
    bool m_bIgnoreHiddenFolders = false;
    bool m_bViewFilesCount = false;
    // Sizes, names and empty files left out. A sub-folder whose name matches is not entered (the
    // listed folder itself always is); a file left out is counted, and a stat is paid per file
    // only when a size matters.
    CFileFilters m_filters;
    // Decide every entry's kind by fstatat, as on file systems that give no
    // entry types; for tests of that path.
    bool m_bStatEveryEntry = false;
    // Threads that read folders ahead of the walk (-1: chosen from the core
    // count; 0: every folder is read on the walk's own thread). Files are
    // reported in the same order either way; a folder may be read up to
    // kReadAheadFolders folders before the walk reaches it, so a change made
    // meanwhile may not be seen.
    int m_nReadAheadThreads = -1;
};

// What a walk reports. Called on the walk's own thread, so an implementation
// touches no widget: the window hands rows over to its UI thread.
class CWalkSink {
public:
    virtual ~CWalkSink() = default;
    virtual void OnFileFound(const CFileFind& finder) = 0;
    // A folder that could not be opened (error is errno); nothing below it is listed.
    virtual void OnFolderNotRead(std::string_view path, int error) { (void)path, (void)error; }
    // A folder entered, before its files; the listed folder first.
    virtual void OnFolderEntered(std::string_view path) { (void)path; }
    // Entries that are neither files nor folders, told only when asked for, among the files of their
    // folder (hidden ones skipped as hidden files are). what is one byte of kind, then what sets it
    // apart: 'l' a symbolic link and its target's bytes, 'p' a pipe, 's' a socket, 'c' or 'b' a device
    // and its 8-byte number, '?' anything else or a link whose target could not be read.
    virtual bool WantsOtherEntries() const { return false; }
    virtual void OnOtherEntry(std::string_view path, std::string_view what) { (void)path, (void)what; }
};

// What one walk found besides its files, returned when it ends.
struct CWalkResult {
    int m_nFoldersParsed = 0;
    int m_nFoldersIgnored = 0;
    // Files that passed the skip rules but not the filters; a folder left out by name counts among
    // those ignored, its files nowhere.
    int m_nFilesFiltered = 0;
    bool m_bFiltered = false;  // a filter was on
    // The folders that could not be read, with errno; counted among those parsed.
    struct CUnreadFolder {
        QByteArray path;
        int error = 0;
    };
    std::vector<CUnreadFolder> m_arrUnreadFolders;
    COleDateTime m_dtStart;
    COleDateTime m_dtEnd;
};

// Walks one folder tree and hands every file that passes the skip rules to its
// sink's OnFileFound. Paths are native bytes and absolute; the walk never
// changes the working directory, follows no symbolic link below the root and
// reports regular files only. A folder is entered once per walk: one whose
// device and inode were entered already (a bind mount of another listed folder
// or of an ancestor) is reported as not read, with kAlreadyListed. Owned by a
// front end, which is also the sink and keeps the listed files. Its state is
// its own: the owner gives the root and options, and stops it through the
// token it passes to StartListing.
class CAppHelper : private CWalkOptions {
public:
    using CUnreadFolder = CWalkResult::CUnreadFolder;

    explicit CAppHelper(CWalkSink& sink);
    CAppHelper(const CAppHelper&) = delete;
    CAppHelper& operator=(const CAppHelper&) = delete;
    ~CAppHelper();

    // The options as the settings hold them. Filters that cannot be read leave their reason in
    // *filterError and the options unusable: a walk with them lists nothing.
    static CWalkOptions LoadOptions(QString* filterError = nullptr);
    // Takes the root and the options (from the settings unless given),
    // resolves the special folders, forgets the last walk's counts and stamps
    // the start. Raises m_bListing, so the walk counts as going on from here.
    void PrepareListing(const QByteArray& root);
    void PrepareListing(const QByteArray& root, const CWalkOptions& options);
    // Lists the root; returns when the walk ends or once stop is set, with
    // what it found besides the files.
    CWalkResult StartListing(const std::atomic<bool>& stop);
    // The walk of one folder and, when sub-folders are searched, everything
    // below it. Raises m_bListing and lowers it as it returns; a call made
    // during a walk goes by that walk's token.
    void ParseFolder(const QByteArray& path, const std::atomic<bool>& stop);
    bool IsFolderIgnored(const QByteArray& path);
    bool IsRecycleBinFolder(std::string_view path) const;
    void AddFolderFileCount(const QByteArray& folder);
    int GetFolderFileCount(const QByteArray& folder) const;
    // During OnFileFound: the walk's count for the folder of the file being reported.
    int CurrentFolderFileCount() const { return m_depth ? m_mapFolderFiles.Count(m_frames[m_depth - 1].folder) : 0; }

    static constexpr int kReadAheadFolders = 256;
    // The error of a folder not entered because it was entered already under another path: no
    // open of an existing folder gives it.
    static constexpr int kAlreadyListed = EEXIST;
    // The reason to show for an unread folder's error.
    static QString UnreadReason(int error);
    // Of the 64 folder descriptors the walk may hold, what folders read ahead may keep.
    static constexpr int kReadAheadDescriptors = 16;

    // Whether a walk is prepared or runs; any thread may ask.
    bool IsListing() const { return m_bListing.load(std::memory_order_relaxed) != 0; }
    // What PrepareListing was given; the walk does not change them.
    const CWalkOptions& Options() const { return *this; }
    const QByteArray& RootFolder() const { return m_strRootFolder; }
    const COleDateTime& StartTime() const { return m_result.m_dtStart; }
    // Folder -> files seen in the walk that runs, or after ParseFolder alone.
    const CFolderFileCounts& FolderFileCounts() const { return m_mapFolderFiles; }

private:
    // Whether the walk goes on; the walk's own thread clears m_bListing once the token is set.
    bool GoOn()
    {
        if (m_stop && m_stop->load(std::memory_order_relaxed))
            m_bListing.store(0, std::memory_order_relaxed);
        return m_bListing.load(std::memory_order_relaxed) != 0;
    }
    // The same for the readers, which leave m_bListing to the walk.
    bool GoesOn() const
    {
        return m_bListing.load(std::memory_order_relaxed) && !(m_stop && m_stop->load(std::memory_order_relaxed));
    }

    CSystemFolders m_systemFolders;
    QByteArray m_strRootFolder;  // native path, given to PrepareListing
    std::atomic<int> m_bListing{0};  // 1 while the walk goes on
    const std::atomic<bool>* m_stop = nullptr;  // the owner's token, during a walk
    CFolderFileCounts m_mapFolderFiles;  // folder -> files seen, paths exact
    CWalkResult m_result;  // of the walk that runs, handed over as it ends

    class CReadAhead;
    // kOther: its name is followed by a 2-byte length and what OnOtherEntry is told.
    enum EntryKind : uint8_t { kFile, kReadOnlyFile, kFolder, kOther };
    struct Entry {
        uint32_t nameOffset;
        uint16_t nameLength;
        EntryKind kind;
        bool filtered;  // a file the filters leave out
    };
    // The options that decide what reading a folder keeps, fixed for one walk.
    struct ReadRules {
        bool statEveryEntry = false;
        bool searchSubFolders = false;
        bool ignoreReadOnlyFiles = false;
        bool hiddenFolderRule = false;  // an unreadable folder counts as hidden
        bool otherEntries = false;      // keep links, pipes, sockets and devices as kOther
        const CFileFilters* filters = nullptr;  // only when one is on
    };
    struct FolderId {
        uint64_t dev = 0;
        uint64_t ino = 0;
        bool operator==(const FolderId& o) const { return dev == o.dev && ino == o.ino; }
    };
    struct FolderIdHash {
        size_t operator()(const FolderId& id) const noexcept
        {
            return size_t((id.ino ^ (id.dev << 32 | id.dev >> 32)) * 0x9E3779B97F4A7C15ull);
        }
    };
    // A sub-folder read ahead of the walk.
    struct FolderRead {
        bool ignored = false;  // its attributes could not be read under the hidden rule
        bool opened = false;
        bool outOfDescriptors = false;  // not opened for want of a descriptor: the walk reads it itself
        int error = 0;                  // why it was not opened
        bool hasFolders = false;
        FolderId id;                    // of the folder opened
        int fd = -1;           // kept only while its sub-folders may be read ahead
        uint32_t level = UINT32_MAX;  // its sub-folders in the read-ahead, when it has any
        size_t bytes = 0;             // held for the read-ahead's budget
        std::vector<char> names;
        std::vector<Entry> entries;
    };
    struct Frame {
        std::string name;  // in the parent folder; the whole path for the walk's first folder
        size_t pathLength = 0;
        int fd = -1;
        uint32_t folder = 0;       // in m_mapFolderFiles
        uint32_t childParent = 0;  // where its sub-folders' entries hang ("/" splits as "" and "")
        bool listedAny = false;
        size_t next = 0;
        size_t nextSubFolder = 0;  // how many of its sub-folders the walk has reached
        std::vector<char> names;
        std::vector<Entry> entries;
    };

    bool IsFolderIgnoredAt(int dirFd, const char* statName, std::string_view path) const;
    // Every skip rule but the one that reads the folder's attributes; the name filters only below
    // the listed folder.
    bool IsFolderIgnoredByPath(std::string_view path, bool listedFolder = false) const;
    // The rules of IsFolderIgnoredByPath that look at names alone: the folder's
    // name and its parent folder's. The same answer for any path that no
    // configured folder is compared with.
    bool IsFolderIgnoredByName(std::string_view parentName, std::string_view name, bool listedFolder = false) const;
    // Whether a folder the skip lists compare by whole path may lie below path;
    // when not, IsFolderIgnoredByName decides for every folder below it.
    bool SkipListsReachBelow(std::string_view path) const;
    int ReadAheadThreads() const;
    void WalkDown(size_t base);
    void EnterSubFolder(size_t parentIndex, const char* name);
    void EnterFolder(int parentFd, const char* name, uint32_t parentEntry);
    void EnterRead(const char* name, uint32_t parentEntry, FolderRead& read);
    Frame& PushFrame(const char* name, int fd, uint32_t folder);
    void ReadEntries(Frame& frame);
    // True when the folder has sub-folders to walk.
    static bool ReadEntries(int fd, const ReadRules& rules, std::vector<char>& names, std::vector<Entry>& entries,
                            std::vector<char>& buffer);
    static void ReadFolder(int parentFd, const char* name, const ReadRules& rules, FolderRead& read,
                           std::vector<char>& buffer);
    int FolderFd(size_t index);
    int OpenFolder(int parentFd, const char* name, int flags, size_t keep);
    void CloseFolderFd(Frame& frame);
    void LimitOpenFolders(size_t keep);
    void ReleaseWalkState();
    void NotRead(int error);
    // Whether the folder's attributes cannot be read, under the hidden rule: then it counts as hidden.
    bool HiddenAsUnreadable(int dirFd, const char* statName, std::string_view path) const;
    // Records the identity of a folder about to be entered; false when it was entered already.
    bool FirstEntry(const FolderId& id) { return m_entered.insert(id).second; }
    static bool IdOf(int fd, FolderId& id);

    CWalkSink& m_sink;
    std::vector<Frame> m_frames;  // reused across folders; m_depth of them are in use
    size_t m_depth = 0;
    size_t m_lowestOpen = 0;  // no frame below this index holds an open descriptor
    int m_openFolders = 0;
    std::string m_path;           // the current entry's full path, built in place
    std::vector<char> m_direntBuffer;
    CFileFind m_finder;
    ReadRules m_rules;
    int m_maxOpenFolders = 0;  // what the read-ahead leaves of the descriptor budget
    std::unique_ptr<CReadAhead> m_readAhead;  // only while a walk with read-ahead runs
    std::unordered_set<FolderId, FolderIdHash> m_entered;  // every folder entered in this walk
};
