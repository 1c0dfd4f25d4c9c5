#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/stat.h>

// What the content check learned of files, kept between runs so a rescan need not read files
// it already proved different. It only ever proves files different: two files whose valid
// entries disagree differ; anything else is compared byte for byte as if there were no cache.
// An entry is valid only while its file keeps the file system, inode, size, mtime and ctime
// (in nanoseconds) it was recorded with. It holds digests, never contents or paths.
//
// The file, $XDG_CACHE_HOME/sorvane/contents, is the user's own: read only as a regular file
// of theirs, not a link, writable by no one else, in a folder of theirs no one else can
// write; anything else, and a damaged file, is ignored with one notice and replaced on save.
// Saves merge with what is on disk under a lock file beside it and replace it whole.
class CDigestCache {
public:
    struct CKey {
        uint64_t fs = 0;  // st_dev mixed with statfs's f_fsid: another file system never matches
        uint64_t ino = 0;
        uint64_t size = 0;
        int64_t mtime = 0;  // nanoseconds
        int64_t ctime = 0;
        bool operator==(const CKey& o) const
        {
            return fs == o.fs && ino == o.ino && size == o.size && mtime == o.mtime && ctime == o.ctime;
        }
    };
    struct CDigests {
        uint64_t head = 0;       // FileComparer::Hash of the first and last blocks
        uint32_t splitAt = 0;    // 1 + the 4 KiB block where a compare found it alone; 0: none
        uint32_t splitHash = 0;  // a hash of the chunk read there
    };
    // On disk: 56 bytes a file.
    static constexpr size_t kRecordSize = 56;  // whole 8-byte words: the sum is taken a piece at a time
    static constexpr size_t kHeaderSize = 40;

    // folder: where the file lives; empty: $XDG_CACHE_HOME/sorvane.
    explicit CDigestCache(std::string folder = std::string());

    // Reads the file if it can be trusted; false (with a notice) when it was there but ignored.
    bool Load();
    // Merges this run's entries into the file as it is now and replaces it; false when not written.
    // It ends the notes.
    bool Save();

    // The key of an open file (or one reached by path, fd -1); false when its file system is unknown.
    bool KeyOf(const struct stat& st, int fd, const char* path, CKey* key);
    // The same from the fields of a stat made elsewhere (the listing's).
    bool KeyOf(uint64_t dev, uint64_t ino, uint64_t size, int64_t mtimeNs, int64_t ctimeNs, const char* path, CKey* key);
    // Whether a file of this key may be recorded: not when its ctime is so recent that a write in
    // the same tick of the file system's clock could change its bytes and keep that ctime.
    bool Learnable(const CKey& key) const;
    int64_t racyNs = 2'000'000'000;
    // The entry for key, marked as seen by this run.
    bool Find(const CKey& key, CDigests* digests);
    // Records a head that was learned.
    void PutHead(const CKey& key, uint64_t head);
    // Records what a reader gathered, in order, under one lock; batch is emptied. A split is kept
    // only with the head it was found under.
    struct CLearned {
        CKey key;
        uint64_t head = 0;
        uint32_t splitAt = 0;  // 0: a head
        uint32_t splitHash = 0;
    };
    void PutAll(std::vector<CLearned>& batch);

    // A front end that stats every file as it lists (after Load) notes each one's key here, so the
    // check need not stat them all again: after ExpectNotes, a row whose path was not noted with a
    // valid entry is read. path is the row's own path pointer, which outlives the check.
    void ExpectNotes() { m_expectNotes = true; }
    bool ExpectsNotes() const { return m_expectNotes; }
    // Notes path's key; true, with the entry, when the key has one. From any number of threads.
    bool Note(const char* path, const CKey& key, CDigests* digests);
    // Once every note is taken, before the first Noted.
    void EndNotes();
    bool Noted(const char* path, CKey* key, CDigests* digests) const;

    size_t Size() const;
    // Entries read from the file by Load: only those can answer a lookup, so with none the check
    // asks nothing (what this run learns is of files it has read already).
    size_t Loaded() const { return m_loaded; }
    std::string FilePath() const { return m_folder + "/contents"; }

    // Where notices go (one line each, no newline); by default standard error with the program's name.
    static void SetNoticeHandler(std::function<void(const std::string&)> handler);

private:
    struct CKeyHash {
        size_t operator()(const CKey& k) const;
    };
    struct CEntry {
        CDigests digests;
        bool seen = false;  // looked up or learned by this run
    };
    using CMap = std::unordered_map<CKey, CEntry, CKeyHash>;

    bool FsOf(uint64_t dev, int fd, const char* path, uint64_t* fs);
    bool FsOfShared(uint64_t dev, int fd, const char* path, uint64_t* fs);
    void PutHeadLocked(const CKey& key, uint64_t head);
    void PutSplitLocked(const CKey& key, uint64_t head, uint32_t splitAt, uint32_t splitHash);
    int OpenFolder(bool create) const;
    // Reads the file in folder fd into map; false when absent, untrusted or damaged (notice set).
    bool ReadFile(int folder, CMap* map, uint64_t* seen, std::string* notice) const;
    bool WriteFile(int folder, const CMap& map, uint64_t seen) const;

    uint64_t m_serial;  // this cache's own among those the process made
    std::string m_folder;
    mutable std::shared_mutex m_lock;
    CMap m_map;
    size_t m_loaded = 0;
    uint64_t m_seen = 0;
    bool m_dirty = false;  // learned something the file does not hold
    std::unordered_map<uint64_t, uint64_t> m_fsOfDev;
    bool m_expectNotes = false;
    // Nodes of m_map stay where they are while it grows; Load is not called once notes are taken.
    std::mutex m_notesLock;
    std::vector<std::pair<const char*, CMap::value_type*>> m_notes;
};
