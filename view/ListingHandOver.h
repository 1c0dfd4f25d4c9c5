#pragma once

#include "AppHelper.h"
#include "FolderGroups.h"
#include "PathArray.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Carries what the walk finds from the walk thread to the UI thread in
// batches, so the lists grow a few times a second however fast the walk is.
// The worker fills a local batch and hands it over when the UI asked for the
// next one or it grew large; a hand-over the UI has not yet taken is merged
// into, never replaced, so rows keep their order and none is lost.
//
// It is also the walk's sink: what it is told on the walk thread becomes rows
// (or, when no rows are displayed, entries in the owner's path array).
class CListingHandOver : public CWalkSink {
public:
    // Rows beyond which the worker hands over without waiting to be asked.
    static constexpr int kMaxBatchRows = 8192;

    struct CBatch {
        CPathArray paths;  // file rows, when the file list is displayed
        std::vector<uint32_t> nameStarts;
        std::vector<std::pair<std::string, int>> folderCounts;  // latest count per folder, in order
        std::string currentFile;  // the file being listed, when no rows are displayed
        bool hasCurrentFile = false;
        bool Empty() const { return paths.IsEmpty() && folderCounts.empty() && !hasCurrentFile; }
    };

    // UI side, before the walk starts: drops everything of an earlier run.
    void Reset();
    // UI side, before the walk starts: the walker it serves and where its files go,
    // into files or, when it is null, rows.
    void Attach(const CAppHelper* walker, CPathArray* files);

    // Walk side.
    void OnFileFound(const CFileFind& finder) override;
    void OnFolderEntered(std::string_view path) override { m_tree->Enter(path); }
    void OnFolderNotRead(std::string_view path, int) override { m_tree->NotRead(path); }
    bool WantsOtherEntries() const override { return true; }
    void OnOtherEntry(std::string_view path, std::string_view what) override { m_tree->AddOther(path, what); }
    // UI side, once the walk has ended: its folders and each file's, for the search for copied folders.
    std::shared_ptr<const FolderGroups::CTree> Tree() const { return m_tree; }

    // Worker side.
    void AddFile(std::string_view path, size_t nameStart);
    void SetFolderCount(std::string_view folder, int count);
    void SetCurrentFile(std::string_view path);
    // True when the UI asked for rows or the local batch is large.
    bool Due() const;
    void HandOver();

    // UI side: takes what was handed over and asks for the next batch.
    CBatch Take();

private:
    static void Merge(CBatch& into, CBatch& from);

    std::shared_ptr<FolderGroups::CTree> m_tree = std::make_shared<FolderGroups::CTree>();  // the walk's alone until it ends
    const CAppHelper* m_walker = nullptr;
    CPathArray* m_files = nullptr;  // null: files become rows
    std::atomic<bool> m_wanted{false};
    CBatch m_local;  // worker only
    std::mutex m_lock;
    CBatch m_pending;  // under m_lock
};
