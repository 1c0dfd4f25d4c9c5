#pragma once

#include "AppHelper.h"
#include "FolderGroups.h"
#include "PathArray.h"
#include "SizeGroups.h"

#include <atomic>
#include <string>

// Buffered writes to a descriptor; remembers the first error instead of
// stopping the caller mid-line.
class COutput {
public:
    explicit COutput(int fd) : m_fd(fd) { m_buffer.reserve(kSize); }
    ~COutput() { Flush(); }
    void Write(std::string_view bytes);
    void Write(const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        Write(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
    }
    bool Flush();
    int Error() const { return m_error; }
    // Once *flag is set nothing more is written, and a write waiting for the
    // descriptor stops when a signal interrupts it. Not an error.
    void GiveUpOn(const std::atomic<bool>* flag) { m_giveUp = flag; }

private:
    static constexpr size_t kSize = 256 * 1024;
    int m_fd;
    bool GivenUp() const { return m_giveUp && m_giveUp->load(std::memory_order_relaxed); }

    int m_error = 0;
    const std::atomic<bool>* m_giveUp = nullptr;
    std::string m_buffer;
};

// The engine as the command line runs it: files go to the path array and,
// when asked, straight out as they are found.
class CCliLister : public CWalkSink {
public:
    void OnFileFound(const CFileFind& finder) override;
    void OnFolderEntered(std::string_view path) override
    {
        if (m_tree)
            m_tree->Enter(path);
    }
    void OnFolderNotRead(std::string_view path, int) override
    {
        if (m_tree)
            m_tree->NotRead(path);
    }
    bool WantsOtherEntries() const override { return m_tree != nullptr; }
    void OnOtherEntry(std::string_view path, std::string_view what) override { m_tree->AddOther(path, what); }
    CAppHelper m_helper{*this};
    CPathArray m_arrFiles;  // every file listed, in order
    // The walk's token: a broken output raises it, as a stop signal does.
    std::atomic<bool>* m_stopWalk = nullptr;
    FolderGroups::CTree* m_tree = nullptr;  // the folders entered, when folders are compared

    COutput* m_fileOutput = nullptr;  // null: keep the list only
    CSizeGroups* m_groups = nullptr;  // told of each file as it is listed
    char m_separator = '\n';
    std::atomic<bool> m_progressDue{false};
    bool m_showProgress = false;
    int FoldersWithFiles() const { return m_foldersWithFiles; }

private:
    void ShowProgress(std::string_view folder);

    int m_foldersWithFiles = 0;
};

// The folder argument made absolute, without ".", "..", doubled or trailing
// slashes; false, with what failed in *failed and errno in *error, when it
// cannot be made.
bool NormalisePath(const char* arg, std::string* out, const char** failed, int* error);
