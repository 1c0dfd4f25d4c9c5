#include "ListingHandOver.h"

void CListingHandOver::Reset()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_local = CBatch();
    m_pending = CBatch();
    m_wanted.store(true, std::memory_order_relaxed);
    m_tree = std::make_shared<FolderGroups::CTree>();
}

void CListingHandOver::Attach(const CAppHelper* walker, CPathArray* files)
{
    m_walker = walker;
    m_files = files;
}

void CListingHandOver::OnFileFound(const CFileFind& finder)
{
    const std::string_view path = finder.FilePath();
    m_tree->AddFile(path);
    if (!m_files)
        AddFile(path, path.size() - finder.FileName().size());
    else
        m_files->Add(path);
    if (m_walker->Options().m_bViewFilesCount)
        SetFolderCount(finder.Folder(), m_walker->CurrentFolderFileCount());
    if (Due()) {
        if (m_files)
            SetCurrentFile(path);
        HandOver();
    }
}

void CListingHandOver::AddFile(std::string_view path, size_t nameStart)
{
    m_local.paths.Add(path);
    m_local.nameStarts.push_back(uint32_t(nameStart));
}

void CListingHandOver::SetFolderCount(std::string_view folder, int count)
{
    auto& counts = m_local.folderCounts;
    if (counts.empty() || counts.back().first != folder)
        counts.emplace_back(std::string(folder), 0);
    counts.back().second = count;
}

void CListingHandOver::SetCurrentFile(std::string_view path)
{
    m_local.currentFile.assign(path);
    m_local.hasCurrentFile = true;
}

bool CListingHandOver::Due() const
{
    return m_wanted.load(std::memory_order_relaxed) || m_local.paths.GetSize() >= kMaxBatchRows;
}

void CListingHandOver::HandOver()
{
    m_wanted.store(false, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pending.Empty())
        std::swap(m_pending, m_local);
    else
        Merge(m_pending, m_local);
    m_local = CBatch();
}

CListingHandOver::CBatch CListingHandOver::Take()
{
    CBatch batch;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::swap(batch, m_pending);
    }
    m_wanted.store(true, std::memory_order_relaxed);
    return batch;
}

void CListingHandOver::Merge(CBatch& into, CBatch& from)
{
    for (int i = 0; i < from.paths.GetSize(); ++i) {
        into.paths.Add(from.paths.At(i));
        into.nameStarts.push_back(from.nameStarts[size_t(i)]);
    }
    for (auto& fc : from.folderCounts) {
        if (!into.folderCounts.empty() && into.folderCounts.back().first == fc.first)
            into.folderCounts.back().second = fc.second;
        else
            into.folderCounts.push_back(std::move(fc));
    }
    if (from.hasCurrentFile) {
        into.currentFile.swap(from.currentFile);
        into.hasCurrentFile = true;
    }
}
