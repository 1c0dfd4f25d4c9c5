// How CAppHelper reads one folder's entries: shared by the walk and its
// read-ahead threads, so it touches nothing but its arguments.

#include "AppHelper.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
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
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        read.error = errno;
        read.outOfDescriptors = errno == EMFILE || errno == ENFILE;
        // The attribute read of the hidden rule, needed only when the open failed.
        if (!read.outOfDescriptors && rules.hiddenFolderRule) {
            struct stat st;
            read.ignored = fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0;
        }
        return;
    }
    // The folder is known by what was opened, not by its name: the walk enters each identity once.
    if (!IdOf(fd, read.id)) {
        read.error = errno;
        close(fd);
        return;
    }
    read.opened = true;
    read.hasFolders = ReadEntries(fd, rules, read.names, read.entries, buffer);
    if (read.hasFolders)
        read.fd = fd;
    else
        close(fd);
}

namespace {

// What sets an entry that is neither file nor folder apart, after its name: a 2-byte length, then a
// kind byte and, for a link its target, for a device its number. Read through the folder's own
// descriptor, so it is the entry listed.
void AppendOther(int fd, const char* name, unsigned char type, const struct stat* known, std::vector<char>& names)
{
    char what[1 + PATH_MAX + 1];
    size_t length = 1;
    struct stat st;
    if (type == DT_UNKNOWN && known)
        type = IFTODT(known->st_mode);
    what[0] = '?';
    if (type == DT_LNK) {
        const ssize_t n = readlinkat(fd, name, what + 1, PATH_MAX + 1);
        if (n >= 0 && n <= PATH_MAX) {
            what[0] = 'l';
            length += size_t(n);
        }
    } else if (type == DT_FIFO || type == DT_SOCK) {
        what[0] = type == DT_FIFO ? 'p' : 's';
    } else if ((type == DT_CHR || type == DT_BLK) && (known || fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)) {
        const uint64_t number = uint64_t((known ? known : &st)->st_rdev);
        what[0] = type == DT_CHR ? 'c' : 'b';
        std::memcpy(what + 1, &number, sizeof number);
        length += sizeof number;
    }
    const uint16_t size = uint16_t(length);
    const char* sizeBytes = reinterpret_cast<const char*>(&size);
    names.insert(names.end(), sizeBytes, sizeBytes + sizeof size);
    names.insert(names.end(), what, what + length);
}

}  // namespace

bool CAppHelper::IdOf(int fd, FolderId& id)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    return true;
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
            bool filtered = false;
            unsigned char type = rules.statEveryEntry ? static_cast<unsigned char>(DT_UNKNOWN) : d->d_type;
            struct stat st;
            bool haveStat = false;
            if (type == DT_UNKNOWN) {
                haveStat = fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
                // One that cannot be looked at is still an entry where other entries count.
                if (!haveStat && !rules.otherEntries)
                    continue;
                if (haveStat)
                    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                if (!rules.searchSubFolders)
                    continue;  // neither counted nor tested
                kind = kFolder;
                hasFolders = true;
            } else if (type == DT_REG) {
                kind = kFile;
                const CFileFilters* filters = rules.filters;
                // Sizes cost a stat per file, so only a size filter pays it; one that fails keeps the file.
                if (rules.ignoreReadOnlyFiles || (filters && filters->NeedsSize())) {
                    if (!haveStat)
                        haveStat = fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
                    if (rules.ignoreReadOnlyFiles && haveStat && (st.st_mode & S_IWUSR) == 0)
                        kind = kReadOnlyFile;
                }
                if (filters)
                    filtered = (filters->NeedsSize() && haveStat && filters->SkipsSize(uint64_t(st.st_size)))
                        || filters->SkipsName(std::string_view(name));
            } else if (rules.otherEntries) {
                kind = kOther;
            } else {
                continue;  // links, pipes, sockets and devices are never listed
            }
            const size_t length = std::strlen(name);
            entries.push_back({static_cast<uint32_t>(names.size()), static_cast<uint16_t>(length), kind, filtered});
            names.insert(names.end(), name, name + length + 1);
            if (kind == kOther)
                AppendOther(fd, name, type, haveStat ? &st : nullptr, names);
        }
    }
    return hasFolders;
}

