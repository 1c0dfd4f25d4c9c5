#pragma once

// The parts of the trash that trashing and putting back share: folders opened by descriptor
// without following links, checked to be the user's own. Internal to the trash.

#include "Trash.h"
#include "UniqueFd.h"
#include "WriteAll.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TrashParts {

bool Fail(QString* error, const QString& reason);

struct SNode {
    dev_t dev = 0;
    ino_t ino = 0;
    uint64_t mountId = 0;
    bool hasMountId = false;
    mode_t mode = 0;
    uid_t uid = 0;
    uint64_t size = 0;
};
int ProbeAt(int dirFd, const char* path, bool follow, SNode* node);
int Probe(const QByteArray& path, bool follow, SNode* node);
bool SameMount(const SNode& a, const SNode& b);
QByteArray DataHome();

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A trash folder must be a real folder of ours that no one else can write to: a planted link or
// a folder another user controls would let them choose where files go or what comes back.
int OpenOwnedFolder(int parentFd, const char* name, bool create, bool ownLinkAllowed, CFd* out);

struct CTrashDirs {
    QByteArray path;
    QByteArray top;  // a volume trash's mount top, which Path= is relative to; empty for the home trash
    CFd files;
    CFd info;
};
int OpenHomeTrash(bool create, CTrashDirs* dirs);
// $top/.Trash/$uid (shared) or $top/.Trash-$uid.
int OpenVolumeTrash(const QByteArray& top, bool create, bool shared, CTrashDirs* dirs);

// Renames without replacing what is there; 0 or errno.
int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to);
// Writes all of data, again after an interruption; 0 or errno.
inline int WriteAll(int fd, const QByteArray& data)
{
    return ::WriteAll(fd, data.constData(), size_t(data.size()));
}
CItemStamp StampOf(const struct stat& st);
CItemStamp StampOf(const SNode& node);

}  // namespace TrashParts
