#include "FileOpening.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int CloseKeepingErrno(int fd, int result)
{
    const int saved = errno;
    close(fd);
    errno = saved;
    return result;
}

// Opens rest (folders separated by slashes, then the item) below the folder
// dir one step at a time, without following links; flags for the item.
// -1 with errno.
int OpenBelow(int dir, std::string_view rest, int flags)
{
    dir = fcntl(dir, F_DUPFD_CLOEXEC, 0);
    for (size_t start = 0; dir >= 0;) {
        const size_t slash = rest.find('/', start);
        const std::string name(rest.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos)
            return CloseKeepingErrno(dir, openat(dir, name.c_str(), flags));
        start = slash + 1;
        if (name.empty())
            continue;  // a doubled slash
        dir = CloseKeepingErrno(dir, openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return -1;
}

// A path the kernel would refuse as too long: the longest leading part that
// it takes is opened as a short path would be, the rest one folder at a time
// without following links, as the walk went down.
int OpenLongPath(std::string_view path, int flags)
{
    const size_t cut = path.rfind('/', PATH_MAX - 1);
    if (cut == std::string_view::npos) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int dir = open(std::string(path.substr(0, cut == 0 ? 1 : cut)).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return dir < 0 ? -1 : CloseKeepingErrno(dir, OpenBelow(dir, path.substr(cut + 1), flags));
}

}  // namespace

int OpenListedFile(std::string_view path, int flags)
{
    return path.size() < PATH_MAX ? open(std::string(path).c_str(), flags) : OpenLongPath(path, flags);
}

long DescriptorLimit()
{
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 1L << 20)
        return 1L << 20;
    return long(limit.rlim_cur);
}

bool OutOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

bool WaitForDescriptor(const std::atomic<bool>& stop)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return !stop.load(std::memory_order_relaxed);
}

int OpenListedFileWaiting(std::string_view path, int flags, const std::atomic<bool>& stop)
{
    for (;;) {
        const int fd = OpenListedFile(path, flags);
        if (fd >= 0 || !OutOfDescriptors(errno))
            return fd;
        if (!WaitForDescriptor(stop)) {
            errno = EMFILE;
            return -1;
        }
    }
}

CFolderCache::~CFolderCache()
{
    if (m_fd >= 0)
        close(m_fd);
}

// The folder's descriptor for path, opened when the folder changes; -1 when
// the path is too long for it or the folder cannot be opened.
int CFolderCache::FolderOf(std::string_view path)
{
    // Listed files come folder by folder: the folder is looked up once, then
    // each file by its name alone.
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return -1;
    const std::string_view folder = path.substr(0, slash == 0 ? 1 : slash);
    if (m_fd < 0 || folder != m_folder) {
        constexpr int kFolder = O_PATH | O_DIRECTORY | O_CLOEXEC;
        int fd = -1;
        if (folder.size() < PATH_MAX) {
            fd = open(std::string(folder).c_str(), kFolder);
        } else if (m_fd >= 0 && folder.size() > m_folder.size() && folder[m_folder.size()] == '/'
                   && folder.substr(0, m_folder.size()) == m_folder) {
            // A deep tree lists a folder's sub-folder next: one step down
            // from the last, rather than the whole way from the top.
            fd = OpenBelow(m_fd, folder.substr(m_folder.size() + 1), kFolder | O_NOFOLLOW);
        } else {
            fd = OpenListedFile(folder, kFolder | O_NOFOLLOW);
        }
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
        m_folder.assign(folder);
    }
    m_name.assign(path.substr(slash + 1));
    return m_fd;
}

// stat of the item itself; then, for a regular file, whether it may be opened
// for reading, as opening it would tell, without the cost of an open.
namespace {

// Whether this thread may read every file whatever its mode: a capability that overrides the
// permission bits. Read once per cache, so a thread that gives them up is seen at its next fill.
bool MayReadAnyFile()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    constexpr unsigned kOverride = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    return (data[0].effective & kOverride) != 0;
}

// The verdict open would give, read off the stat where it is certain, so most files cost one
// metadata call: with a capability that overrides modes, or as the file's owner with the owner's
// read bit (the owner's bits are the ACL's owner entry, so an ACL cannot take that away). Anything
// else (the group or other class, where ACL entries for named users and groups may decide, or an
// owner without the read bit whom a capability might still let in) is asked of the kernel.
// A security module's own rules (SELinux, AppArmor) are left to the open itself, as before.
bool ReadableFromStat(const struct stat& st, bool readAny, bool* readable)
{
    if (!S_ISREG(st.st_mode)) {
        *readable = false;
        return true;
    }
    if (readAny || (st.st_uid == geteuid() && (st.st_mode & S_IRUSR))) {
        *readable = true;
        return true;
    }
    return false;
}

}  // namespace

CFolderCache::CFolderCache()
    : m_readAny(MayReadAnyFile())
{
}

int CFolderCache::StatReadable(std::string_view path, struct stat* st, bool* readable)
{
    const int dir = FolderOf(path);
    if (dir < 0) {
        constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
        const int fd = OpenListedFile(path, kFlags);
        if (fd < 0)
            return -1;
        const int result = fstat(fd, st);
        *readable = true;
        close(fd);
        return result;
    }
    if (fstatat(dir, m_name.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (!ReadableFromStat(*st, m_readAny, readable))
        *readable = faccessat(dir, m_name.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
    return 0;
}

