#pragma once

// The read-ahead of the walk: reader threads list folders before the walk
// needs them. Part of CAppHelper, included by its source file alone.

#include "AppHelper.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

// The buffer one getdents64 call fills.
inline constexpr size_t kDirentBufferSize = 64 * 1024;

// Reads folders on a few threads ahead of the walk, which still takes them in
// its own order. Each frame of the walk that has sub-folders has a level here
// listing them; readers take the first unread one of the deepest level, which
// is the next the walk will need among those known. At most kReadAheadFolders
// folders are taken by readers and not yet by the walk, holding at most
// kReadAheadDescriptors descriptors and kHeldBytes of entries. Levels and
// their sub-folders are kept as stacks, a few bytes each, so a deep walk
// costs little more.
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
        for (std::thread& t : m_threads)
            t.join();
        for (FolderRead& read : m_reads) {
            if (read.fd >= 0)
                close(read.fd);
        }
    }

    // Lists the sub-folders of the frame just entered at index; path is its
    // full path and is given back unchanged.
    void PushLevel(size_t index, const Frame& frame, std::string& path)
    {
        if (m_slotEnd.size() <= index)
            m_slotEnd.resize(index + 1);
        const uint32_t first = index ? m_slotEnd[index - 1] : 0;
        m_slotEnd[index] = first;
        m_scratch.clear();
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
            m_scratch.push_back({e.nameOffset, ignored ? kIgnored : kWaiting, kNoRead});
            anyToRead = anyToRead || !ignored;
        }
        // Leaves, most folders, need nothing from the readers.
        if (m_scratch.empty())
            return;
        const auto count = static_cast<uint32_t>(m_scratch.size());
        m_slotEnd[index] = first + count;
        std::lock_guard<std::mutex> lock(m_mutex);
        GiveBackSpare();
        if (m_levels.size() <= index)
            m_levels.resize(index + 1);
        // What lies above first belongs to levels the walk has left.
        m_slots.resize(first);
        m_slots.insert(m_slots.end(), m_scratch.begin(), m_scratch.end());
        Level& level = m_levels[index];
        level = Level{frame.names.data(), frame.fd, first, count, 0, 0, 0};
        m_levelDepth = index + 1;
        if (anyToRead && level.fd >= 0) {
            m_claimable.push_back(static_cast<uint32_t>(index));
            StartThreads();
            WakeReaders();
        }
    }

    // The frame at index, the deepest, is left: whatever was read for it and not taken is dropped.
    void PopLevel(size_t index)
    {
        const uint32_t first = index ? m_slotEnd[index - 1] : 0;
        if (m_slotEnd[index] == first)
            return;  // it had no level
        m_slotEnd[index] = first;
        // Every sub-folder taken: no reader can touch the level any more.
        if (m_levels[index].taken == m_levels[index].count)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        Level& level = m_levels[index];
        WaitForReaders(lock, level);
        for (uint32_t i = level.first; i < level.first + level.count; ++i) {
            Slot& s = m_slots[i];
            if (s.state == kDone) {
                FolderRead& read = m_reads[s.read];
                Release(read);
                if (read.fd >= 0)
                    close(read.fd);
                read.fd = -1;
                m_freeReads.push_back(s.read);
            }
            s.state = kTaken;
        }
        level.fd = -1;
        m_levelDepth = index;
    }

    // The frame at index is about to close its descriptor: readers leave its sub-folders to the walk.
    void DetachFd(size_t index)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (index >= m_levelDepth)
            return;
        Level& level = m_levels[index];
        WaitForReaders(lock, level);
        level.fd = -1;
    }

    // The slot-th sub-folder of the frame at index, as the walk reaches it.
    // Read: *read holds it until Recycle. ReadHere: nobody took it, the walk reads it itself.
    Outcome Take(size_t index, size_t slot, FolderRead** read)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        GiveBackSpare();
        Level& level = m_levels[index];
        ++level.taken;
        Slot& s = m_slots[level.first + slot];
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
                ReadClaimed(lock, job, m_walkBuffer);
                continue;
            }
            m_walkWaiting = true;
            m_doneCv.wait(lock);
        }
        m_walkWaiting = false;
        s.state = kTaken;
        *read = &m_reads[s.read];
        m_spare = s.read;  // given back at the next call after Recycle
        Release(**read);
        return Outcome::Read;
    }

    // The walk is done with what Take gave.
    void Recycle() { m_spareDone = true; }

private:
    static constexpr size_t kHeldBytes = 8u << 20;
    static constexpr uint16_t kNoRead = UINT16_MAX;
    enum SlotState : uint8_t { kWaiting, kIgnored, kReading, kDone, kTaken };
    struct Slot {
        uint32_t nameOffset;
        SlotState state;
        uint16_t read;  // in m_reads, once kDone
    };
    struct Level {
        const char* names;  // the frame's, unchanged while the level lives
        int fd;             // -1: readers leave its sub-folders alone
        uint32_t first;     // its sub-folders in m_slots
        uint32_t count;
        uint32_t nextClaim;
        uint32_t taken;  // by the walk; read by it alone
        int inFlight;
    };
    struct Job {
        uint32_t level;
        uint32_t slot;  // in m_slots
        int parentFd;
        const char* name;
        uint16_t read;
    };

    static size_t Bytes(const FolderRead& read) { return read.names.size() + read.entries.size() * sizeof(Entry); }

    void StartThreads()
    {
        // Started with the first sub-folder to read, so small walks pay nothing.
        if (!m_threads.empty())
            return;
        m_rules = m_owner.m_rules;
        for (int i = 0; i < m_threadCount; ++i)
            m_threads.emplace_back([this] { Run(); });
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
        return m_owner.m_bListing.load(std::memory_order_relaxed) && m_outstanding < kReadAheadFolders &&
               m_heldBytes < kHeldBytes;
    }

    // A read result leaves the read-ahead's budget.
    void Release(const FolderRead& read)
    {
        --m_outstanding;
        m_heldBytes -= Bytes(read);
        if (read.fd >= 0)
            --m_heldFds;
        WakeReaders();
    }

    // The first sub-folder not yet taken of the deepest level that has one.
    bool Claim(Job& job)
    {
        while (!m_claimable.empty()) {
            const uint32_t index = m_claimable.back();
            if (index < m_levelDepth) {
                Level& level = m_levels[index];
                while (level.nextClaim < level.count && m_slots[level.first + level.nextClaim].state != kWaiting)
                    ++level.nextClaim;
                if (level.fd >= 0 && level.nextClaim < level.count) {
                    const uint32_t slot = level.first + level.nextClaim++;
                    m_slots[slot].state = kReading;
                    ++level.inFlight;
                    ++m_outstanding;
                    // Claims never outnumber the budget, so the pool stays small.
                    if (m_freeReads.empty()) {
                        m_freeReads.push_back(static_cast<uint16_t>(m_reads.size()));
                        m_reads.emplace_back();
                    }
                    job = {index, slot, level.fd, level.names + m_slots[slot].nameOffset, m_freeReads.back()};
                    m_freeReads.pop_back();
                    return true;
                }
            }
            m_claimable.pop_back();
        }
        return false;
    }

    // Reads a claimed folder without the lock and files the result.
    void ReadClaimed(std::unique_lock<std::mutex>& lock, const Job& job, std::vector<char>& buffer)
    {
        FolderRead& read = m_reads[job.read];
        lock.unlock();
        ReadFolder(job.parentFd, job.name, m_rules, read, buffer);
        lock.lock();
        // Beyond its share of descriptors a folder is reopened by the walk when entered.
        if (read.fd >= 0 && m_heldFds >= kReadAheadDescriptors) {
            close(read.fd);
            read.fd = -1;
        } else if (read.fd >= 0) {
            ++m_heldFds;
        }
        m_slots[job.slot].read = job.read;
        m_slots[job.slot].state = kDone;
        --m_levels[job.level].inFlight;
        m_heldBytes += Bytes(read);
    }

    void Run()
    {
        std::vector<char> buffer(kDirentBufferSize);
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            Job job;
            for (;;) {
                if (m_shutdown)
                    return;
                if (HasBudget() && Claim(job))
                    break;
                ++m_idleReaders;
                m_workCv.wait(lock);
                --m_idleReaders;
            }
            ReadClaimed(lock, job, buffer);
            if (m_walkWaiting) {
                lock.unlock();
                m_doneCv.notify_one();
                lock.lock();
            }
        }
    }

    const CAppHelper& m_owner;
    const int m_threadCount;
    ReadRules m_rules;  // the readers' copy
    std::vector<std::thread> m_threads;

    std::mutex m_mutex;
    std::condition_variable m_workCv;  // readers wait for work or budget
    std::condition_variable m_doneCv;  // the walk waits for a read
    bool m_shutdown = false;
    bool m_walkWaiting = false;
    int m_idleReaders = 0;
    int m_outstanding = 0;  // taken by readers, not yet by the walk
    int m_heldFds = 0;      // descriptors of those
    size_t m_heldBytes = 0;
    std::vector<Level> m_levels;  // by frame index; m_levelDepth bounds those readers may use
    uint32_t m_levelDepth = 0;
    std::vector<Slot> m_slots;         // the levels' sub-folders, shallowest first
    std::vector<uint32_t> m_claimable;  // levels that may have sub-folders to read, deepest last
    std::deque<FolderRead> m_reads;     // never moves an element
    std::vector<uint16_t> m_freeReads;
    // The walk's own.
    std::vector<char> m_walkBuffer = std::vector<char>(kDirentBufferSize);  // for reads it does itself
    std::vector<Slot> m_scratch;
    std::vector<uint32_t> m_slotEnd;  // per frame: where its level's sub-folders end in m_slots
    uint16_t m_spare = 0;
    bool m_spareDone = false;
};
