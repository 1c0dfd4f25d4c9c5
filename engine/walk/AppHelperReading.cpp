// How CAppHelper reads one folder's entries: shared by the walk and its
// read-ahead threads, so it touches nothing but its arguments.

#include "AppHelper.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

void CAppHelper::ReadFolder(int parentFd, const char* name, const ReadRules& rules, FolderRead& read,
                            std::vector<char>& buffer)
{
    read.ignored = false;
    read.opened = false;
    read.outOfDescriptors = false;
    read.error = 0;
    read.hasFolders = false;
    read.fd = -1;
    read.names.clear();
    read.entries.clear();
    // The attribute read of IsFolderIgnoredAt; the rules on the path were applied before.
    struct stat st;
    if (rules.hiddenFolderRule && fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        read.ignored = true;
        return;
    }
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        read.error = errno;
        read.outOfDescriptors = errno == EMFILE || errno == ENFILE;
        return;
    }
    read.opened = true;
    read.hasFolders = ReadEntries(fd, rules, read.names, read.entries, buffer);
    if (read.hasFolders)
        read.fd = fd;
    else
        close(fd);
}

bool CAppHelper::ReadEntries(int fd, const ReadRules& rules, std::vector<char>& names, std::vector<Entry>& entries,
                             std::vector<char>& buffer)
{
    names.clear();
    entries.clear();
    bool hasFolders = false;

    for (;;) {
        const ssize_t n = getdents64(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;  // end, or the folder went away: what was read stands
        for (ssize_t pos = 0; pos < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer.data() + pos);
            pos += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;

            EntryKind kind;
            unsigned char type = rules.statEveryEntry ? static_cast<unsigned char>(DT_UNKNOWN) : d->d_type;
            struct stat st;
            bool haveStat = false;
            if (type == DT_UNKNOWN) {
                if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                haveStat = true;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                if (!rules.searchSubFolders)
                    continue;  // neither counted nor tested
                kind = kFolder;
                hasFolders = true;
            } else if (type == DT_REG) {
                kind = kFile;
                if (rules.ignoreReadOnlyFiles) {
                    if (!haveStat)
                        haveStat = fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
                    if (haveStat && (st.st_mode & S_IWUSR) == 0)
                        kind = kReadOnlyFile;
                }
            } else {
                continue;  // links, pipes, sockets and devices are never listed
            }
            const size_t length = std::strlen(name);
            entries.push_back({static_cast<uint32_t>(names.size()), static_cast<uint16_t>(length), kind});
            names.insert(names.end(), name, name + length + 1);
        }
    }
    return hasFolders;
}

