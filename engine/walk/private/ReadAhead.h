#pragma once

// The read-ahead of the walk: reader threads list folders before the walk
// needs them. Part of CAppHelper, included by its source files alone (the
// readers' side is in ReadAheadReaders.cpp).

#include "AppHelper.h"
#include "WorkerThread.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

// The buffer one getdents64 call fills.
inline constexpr size_t kDirentBufferSize = 64 * 1024;

// Reads folders on a few threads ahead of the walk, which still takes them in
// its own order. Every folder whose sub-folders are known, whether the walk is
// in it or a reader read it first, has a level listing them. Readers take the
// first unread sub-folder of the level made last, so they go depth first from
// where the walk stands, on through folders the walk has not entered yet. A
// level keeps its folder's path only while some folder the skip lists compare
// by whole path may lie below it; elsewhere names decide what is skipped. At
// most kReadAheadFolders folders are taken by readers and not yet by the walk,
// holding at most kReadAheadDescriptors descriptors (a folder read ahead keeps
// its own only while sub-folders of it are left to read) and kHeldBytes of
// entries.
class CAppHelper::CReadAhead {
public:
    enum class Outcome { ReadHere, Ignored, Read };

    CReadAhead(const CAppHelper& owner, int threads) : m_owner(owner), m_threadCount(threads) {}
    ~CReadAhead()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_shutdown = true;
        }
        m_workCv.notify_all();
        m_threads.Join();
        for (FolderRead& read : m_reads) {
            if (read.fd >= 0)
                close(read.fd);
        }
    }

    // Lists the sub-folders of the frame just entered at index, which the
    // walk read itself; path is its full path and is given back unchanged.
    void PushLevel(size_t index, const Frame& frame, std::string& path)
    {
        WalkLevel& walk = At(index);
        m_scratch.subs.clear();
        bool anyToRead = false;
        const size_t length = path.size();
        for (const Entry& e : frame.entries) {
            if (e.kind != kFolder)
                continue;
            if (path != "/")
                path += '/';
            path.append(frame.names.data() + e.nameOffset, e.nameLength);
            const bool ignored = m_owner.IsFolderIgnoredByPath(path);
            path.resize(length);
            m_scratch.subs.push_back({e.nameOffset, ignored ? kIgnored : kWaiting, kNoRead});
            anyToRead = anyToRead || !ignored;
        }
        // Leaves, most folders, need nothing from the readers.
        if (m_scratch.subs.empty())
            return;
        m_scratch.pathKept = m_owner.SkipListsReachBelow(path);
        m_scratch.path.clear();
        if (m_scratch.pathKept)
            m_scratch.path = path;
        std::lock_guard<std::mutex> lock(m_mutex);
        GiveBackSpare();
        walk.id = NewLevel(m_scratch, frame.names.data(), frame.fd, kNoRead);
        walk.count = static_cast<uint32_t>(m_levels[walk.id].subs.size());
        if (anyToRead && frame.fd >= 0) {
            MakeClaimable(walk.id);
            StartThreads();
        }
    }

    // The frame just entered at index comes from the read Take gave: its
    // level, made by the reader, becomes the walk's. True when sub-folders of
    // it are left to read and need its descriptor, to be given with GiveFd.
    bool AdoptLevel(size_t index)
    {
        WalkLevel& walk = At(index);
        if (m_taken == kNoLevel)
            return false;
        walk.id = m_taken;
        m_taken = kNoLevel;
        std::lock_guard<std::mutex> lock(m_mutex);
        Level& level = m_levels[walk.id];
        walk.count = static_cast<uint32_t>(level.subs.size());
        if (!HasWaiting(level))
            return false;
        if (level.fd < 0)
            return true;
        MakeClaimable(walk.id);
        return false;
    }

    void GiveFd(size_t index, int fd)
    {
        if (fd < 0)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_levels[m_walkLevels[index].id].fd = fd;
        MakeClaimable(m_walkLevels[index].id);
    }

    // The read Take gave is not entered: what was read below it is dropped.
    void DropTaken()
    {
        if (m_taken == kNoLevel)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        DropLevel(lock, m_taken);
        m_taken = kNoLevel;
    }

    // The frame at index, the deepest, is left: whatever was read for it and not taken is dropped.
    void PopLevel(size_t index)
    {
        WalkLevel& walk = m_walkLevels[index];
        if (walk.id == kNoLevel)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        // Every sub-folder taken: no reader can touch the level any more.
        if (walk.taken == walk.count)
            FreeLevel(walk.id);
        else
            DropLevel(lock, walk.id);
        walk.id = kNoLevel;
    }

    // The frame at index is about to close its descriptor: readers leave its sub-folders to the walk.
    void DetachFd(size_t index)
    {
        if (index >= m_walkLevels.size() || m_walkLevels[index].id == kNoLevel)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        Level& level = m_levels[m_walkLevels[index].id];
        level.fd = -1;
        WaitForReaders(lock, level);
    }

    // The slot-th sub-folder of the frame at index, as the walk reaches it.
    // Read: *read holds it until Recycle. ReadHere: nobody took it, the walk reads it itself.
    Outcome Take(size_t index, size_t slot, FolderRead** read)
    {
        WalkLevel& walk = m_walkLevels[index];
        ++walk.taken;
        std::unique_lock<std::mutex> lock(m_mutex);
        GiveBackSpare();
        Slot& s = m_levels[walk.id].subs[slot];
        if (s.state == kIgnored)
            return Outcome::Ignored;
        if (s.state == kWaiting) {
            s.state = kTaken;
            return Outcome::ReadHere;
        }
        while (s.state == kReading) {
            // Rather than wait, read the next folder a reader would take.
            Job job;
            if (HasBudget() && Claim(job)) {
                ReadClaimed(lock, job, m_walkBuffer, m_scratch);
                continue;
            }
            m_walkWaiting = true;
            m_doneCv.wait(lock);
        }
        m_walkWaiting = false;
        s.state = kTaken;
        FolderRead& taken = m_reads[s.read];
        Release(taken);
        m_taken = taken.level;
        taken.level = kNoLevel;
        if (m_taken != kNoLevel)
            m_levels[m_taken].owner = kNoRead;  // its descriptor is the walk's now
        *read = &taken;
        m_spare = s.read;  // given back at the next call after Recycle
        return Outcome::Read;
    }

    // The walk is done with what Take gave.
    void Recycle() { m_spareDone = true; }

private:
    static constexpr size_t kHeldBytes = 8u << 20;
    static constexpr uint16_t kNoRead = UINT16_MAX;
    static constexpr uint32_t kNoLevel = UINT32_MAX;
    enum SlotState : uint8_t { kWaiting, kIgnored, kReading, kDone, kTaken };
    struct Slot {
        uint32_t nameOffset;
        SlotState state;
        uint16_t read;  // in m_reads, once kDone
    };
    // The sub-folders of one folder, and how to tell which of theirs are skipped.
    struct LevelBuild {
        std::vector<Slot> subs;
        std::string path;       // the folder's, when pathKept
        bool pathKept = false;  // a folder compared by whole path may lie below it
    };
    struct Level : LevelBuild {
        const char* names = nullptr;  // the folder's, unchanged while the level lives
        int fd = -1;                  // -1: readers leave its sub-folders alone
        uint32_t generation = 0;      // counts its uses, so stale claimable entries are known
        uint32_t nextClaim = 0;
        int inFlight = 0;
        uint16_t owner = kNoRead;  // the read it belongs to, until the walk takes that
    };
    // The walk's own record of the level of one of its frames.
    struct WalkLevel {
        uint32_t id = kNoLevel;
        uint32_t count = 0;
        uint32_t taken = 0;
    };
    struct Claimable {
        uint32_t level;
        uint32_t generation;
    };
    struct Job {
        uint32_t level;
        uint32_t slot;
        int parentFd;
        const char* name;
        uint16_t read;
    };

    void StartThreads()
    {
        // Started with the first sub-folder to read, so small walks pay nothing.
        if (m_threads.Running())
            return;
        m_rules = m_owner.m_rules;
        m_threads.Start(m_threadCount, [this](int, const std::atomic<bool>&) { Run(); });
    }

    WalkLevel& At(size_t index)
    {
        if (m_walkLevels.size() <= index)
            m_walkLevels.resize(index + 1);
        m_walkLevels[index] = WalkLevel{};
        return m_walkLevels[index];
    }

    uint32_t NewLevel(LevelBuild& build, const char* names, int fd, uint16_t owner)
    {
        uint32_t id;
        if (m_freeLevels.empty()) {
            id = static_cast<uint32_t>(m_levels.size());
            m_levels.emplace_back();
        } else {
            id = m_freeLevels.back();
            m_freeLevels.pop_back();
        }
        Level& level = m_levels[id];
        level.subs.swap(build.subs);
        level.path.swap(build.path);
        level.pathKept = build.pathKept;
        level.names = names;
        level.fd = fd;
        level.nextClaim = 0;
        level.owner = owner;
        return id;
    }

    void FreeLevel(uint32_t id)
    {
        Level& level = m_levels[id];
        ++level.generation;
        level.subs.clear();
        level.path.clear();
        level.fd = -1;
        m_freeLevels.push_back(id);
    }

    // Drops a level the walk will not take from, and what was read below it.
    void DropLevel(std::unique_lock<std::mutex>& lock, uint32_t id)
    {
        Level& level = m_levels[id];
        level.fd = -1;
        WaitForReaders(lock, level);
        for (Slot& s : level.subs) {
            if (s.state == kDone) {
                FolderRead& read = m_reads[s.read];
                Release(read);
                if (read.level != kNoLevel)
                    DropLevel(lock, read.level);  // no deeper than kReadAheadFolders
                read.level = kNoLevel;
                if (read.fd >= 0)
                    close(read.fd);
                read.fd = -1;
                m_freeReads.push_back(s.read);
            }
            s.state = kTaken;
        }
        FreeLevel(id);
    }

    void MakeClaimable(uint32_t id)
    {
        m_claimable.push_back({id, m_levels[id].generation});
        WakeReaders();
    }

    static bool HasWaiting(Level& level)
    {
        while (level.nextClaim < level.subs.size() && level.subs[level.nextClaim].state != kWaiting)
            ++level.nextClaim;
        return level.nextClaim < level.subs.size();
    }

    void GiveBackSpare()
    {
        if (m_spareDone) {
            m_freeReads.push_back(m_spare);
            m_spareDone = false;
        }
    }

    // Readers waiting for room are woken once half of it is free, not for every folder.
    void WakeReaders()
    {
        if (m_idleReaders && m_outstanding <= kReadAheadFolders / 2 && m_heldBytes <= kHeldBytes / 2)
            m_workCv.notify_all();
    }

    void WaitForReaders(std::unique_lock<std::mutex>& lock, Level& level)
    {
        while (level.inFlight > 0) {
            m_walkWaiting = true;
            m_doneCv.wait(lock);
        }
        m_walkWaiting = false;
    }

    bool HasBudget() const
    {
        return m_owner.GoesOn() && m_outstanding < kReadAheadFolders &&
               m_heldBytes < kHeldBytes;
    }

    // A read result leaves the read-ahead's budget.
    void Release(const FolderRead& read)
    {
        --m_outstanding;
        m_heldBytes -= read.bytes;
        if (read.fd >= 0)
            --m_heldFds;
        WakeReaders();
    }

    // What the reader threads do, and the walk too while it would wait for one.
    // The first sub-folder not yet taken of the last level made that has one.
    bool Claim(Job& job);
    // The level of a folder read ahead: its sub-folders with their skip rules.
    // True when any of them is to be read.
    bool BuildLevel(const Level& parent, const char* name, const FolderRead& read, LevelBuild& build) const;
    // Reads a claimed folder without the lock and files the result.
    void ReadClaimed(std::unique_lock<std::mutex>& lock, const Job& job, std::vector<char>& buffer,
                     LevelBuild& build);
    void Run();

    const CAppHelper& m_owner;
    const int m_threadCount;
    ReadRules m_rules;  // the readers' copy
    CThreadGroup m_threads;

    std::mutex m_mutex;
    std::condition_variable m_workCv;  // readers wait for work or budget
    std::condition_variable m_doneCv;  // the walk waits for a read
    bool m_shutdown = false;
    bool m_walkWaiting = false;
    int m_idleReaders = 0;
    int m_outstanding = 0;  // taken by readers, not yet by the walk
    int m_heldFds = 0;      // descriptors of those
    size_t m_heldBytes = 0;
    std::deque<Level> m_levels;  // never moves an element
    std::vector<uint32_t> m_freeLevels;
    std::vector<Claimable> m_claimable;  // levels that may have sub-folders to read, last made last
    std::deque<FolderRead> m_reads;      // never moves an element
    std::vector<uint16_t> m_freeReads;
    // The walk's own.
    std::vector<char> m_walkBuffer = std::vector<char>(kDirentBufferSize);  // for reads it does itself
    LevelBuild m_scratch;
    std::vector<WalkLevel> m_walkLevels;  // by frame index
    uint32_t m_taken = kNoLevel;          // the level of the read Take gave last, until adopted or dropped
    uint16_t m_spare = 0;
    bool m_spareDone = false;
};
