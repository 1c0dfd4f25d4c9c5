// The reader threads' side of the read-ahead: taking the next folder to
// read, reading it, listing its sub-folders with their skip rules, and giving
// back descriptors no longer needed. The walk does the same while it would
// otherwise wait for a reader.

#include "ReadAhead.h"

bool CAppHelper::CReadAhead::Claim(Job& job)
{
    while (!m_claimable.empty()) {
        const Claimable c = m_claimable.back();
        Level& level = m_levels[c.level];
        if (level.generation == c.generation && level.fd >= 0 && HasWaiting(level)) {
            const uint32_t slot = level.nextClaim++;
            level.subs[slot].state = kReading;
            ++level.inFlight;
            ++m_outstanding;
            // Claims never outnumber the budget, so the pool stays small.
            if (m_freeReads.empty()) {
                m_freeReads.push_back(static_cast<uint16_t>(m_reads.size()));
                m_reads.emplace_back();
            }
            job = {c.level, slot, level.fd, level.names + level.subs[slot].nameOffset, m_freeReads.back()};
            m_freeReads.pop_back();
            return true;
        }
        m_claimable.pop_back();
    }
    return false;
}

bool CAppHelper::CReadAhead::BuildLevel(const Level& parent, const char* name, const FolderRead& read,
                                        LevelBuild& build) const
{
    build.subs.clear();
    build.path.clear();
    build.pathKept = false;
    if (parent.pathKept) {
        build.path = parent.path;
        if (build.path != "/")
            build.path += '/';
        build.path += name;
        build.pathKept = m_owner.SkipListsReachBelow(build.path);
    }
    const size_t length = build.path.size();
    bool anyToRead = false;
    for (const Entry& e : read.entries) {
        if (e.kind != kFolder)
            continue;
        const std::string_view sub(read.names.data() + e.nameOffset, e.nameLength);
        bool ignored;
        if (build.pathKept) {
            build.path.append(1, '/').append(sub);
            ignored = m_owner.IsFolderIgnoredByPath(build.path);
            build.path.resize(length);
        } else {
            ignored = m_owner.IsFolderIgnoredByName(name, sub);
        }
        build.subs.push_back({e.nameOffset, ignored ? kIgnored : kWaiting, kNoRead});
        anyToRead = anyToRead || !ignored;
    }
    if (!build.pathKept)
        build.path.clear();
    return anyToRead;
}

void CAppHelper::CReadAhead::ReadClaimed(std::unique_lock<std::mutex>& lock, const Job& job,
                                         std::vector<char>& buffer, LevelBuild& build)
{
    FolderRead& read = m_reads[job.read];
    Level& parent = m_levels[job.level];
    lock.unlock();
    ReadFolder(job.parentFd, job.name, m_rules, read, buffer);
    const bool anyToRead = read.hasFolders && BuildLevel(parent, job.name, read, build);
    lock.lock();
    read.level = kNoLevel;
    read.bytes = read.names.size() + read.entries.size() * sizeof(Entry);
    if (read.hasFolders) {
        // Beyond its share of descriptors a folder is reopened by the walk when entered.
        if (read.fd >= 0 && (!anyToRead || m_heldFds >= kReadAheadDescriptors)) {
            close(read.fd);
            read.fd = -1;
        }
        read.bytes += build.subs.size() * sizeof(Slot) + build.path.size();
        read.level = NewLevel(build, read.names.data(), read.fd, job.read);
        if (read.fd >= 0) {
            ++m_heldFds;
            MakeClaimable(read.level);
        }
    }
    parent.subs[job.slot].read = job.read;
    parent.subs[job.slot].state = kDone;
    --parent.inFlight;
    m_heldBytes += read.bytes;
    // A folder read ahead whose sub-folders are all taken gives its descriptor back.
    if (parent.owner != kNoRead && parent.fd >= 0 && parent.inFlight == 0 && !HasWaiting(parent)) {
        FolderRead& owner = m_reads[parent.owner];
        close(owner.fd);
        owner.fd = -1;
        parent.fd = -1;
        --m_heldFds;
    }
}

void CAppHelper::CReadAhead::Run()
{
    std::vector<char> buffer(kDirentBufferSize);
    LevelBuild build;
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
        ReadClaimed(lock, job, buffer, build);
        if (m_walkWaiting) {
            lock.unlock();
            m_doneCv.notify_one();
            lock.lock();
        }
    }
}
