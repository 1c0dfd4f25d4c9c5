#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>

// How a file a listing found is opened to be read: no link followed, no wait
// on a pipe or a device, never taken as the controlling terminal.
constexpr int kReadListedFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Opens a listed file by its path however long it is (folders below the
// kernel's path limit one at a time, links not followed); -1 with errno.
int OpenListedFile(std::string_view path, int flags);
// An error that says nothing of the file: the process or the system had no
// descriptor left, and another thread's close may soon give one back.
bool OutOfDescriptors(int error);
// The descriptors this process may hold (its soft limit), at most 2^20 when there is none.
long DescriptorLimit();
// A short pause for descriptors to be released; false when stop was raised.
bool WaitForDescriptor(const std::atomic<bool>& stop);
// OpenListedFile, waiting while out of descriptors until one is released;
// -1 with EMFILE only once stop is raised.
int OpenListedFileWaiting(std::string_view path, int flags, const std::atomic<bool>& stop);

// The folder of the last file examined, kept open so the next file of the
// same folder is looked up by its name alone. One per thread.
class CFolderCache {
public:
    CFolderCache();
    CFolderCache(const CFolderCache&) = delete;
    CFolderCache& operator=(const CFolderCache&) = delete;
    ~CFolderCache();
    // 0 with the item's own stat, and whether a regular file may be read; -1 with errno.
    int StatReadable(std::string_view path, struct stat* st, bool* readable);

private:
    // The descriptor of path's folder (its name then in m_name), or -1.
    int FolderOf(std::string_view path);

    std::string m_folder;
    std::string m_name;
    int m_fd = -1;
    bool m_readAny = false;  // this thread may read any file, whatever its mode
};
