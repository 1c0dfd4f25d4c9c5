#include "Link.h"

#include "FileComparer.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Link {
namespace {

CResult Refuse(ERefusal why, const QString& reason)
{
    return CResult::Refused(why, reason);
}

// The system said no: refused as kOther, with its errno.
CResult Fail(int err, const QString& reason)
{
    return CResult::Refused(ERefusal::kOther, reason, err);
}

CTestSeams g_seams;

void Step(const char* name)
{
    if (g_seams.step)
        g_seams.step(name);
}

// A file reached through its resolved entry: the folder opened again without following links and
// checked to be the one resolved, the file opened without following one and checked to be the item.
struct COpened {
    const CEntry* entry = nullptr;
    CFd folder;
    CFd file;
    struct stat st {};
};

CResult Open(const CEntry& entry, const char* which, COpened* out)
{
    out->entry = &entry;
    out->folder = CFd(OpenEntryFolder(entry));
    if (out->folder.fd < 0)
        return Refuse(ERefusal::kChanged, QStringLiteral("%1: %2").arg(which, EntryErrorText(errno)));
    out->file = CFd(openat(out->folder.fd, entry.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (out->file.fd < 0)
        return errno == ELOOP ? Refuse(ERefusal::kNotRegular, QStringLiteral("%1 is not a regular file").arg(which))
                              : Fail(errno, QStringLiteral("%1: %2").arg(which, TrashErrorText(errno)));
    if (fstat(out->file.fd, &out->st) != 0 || !S_ISREG(out->st.st_mode))
        return Refuse(ERefusal::kNotRegular, QStringLiteral("%1 is not a regular file").arg(which));
    if (!entry.SameItem(uint64_t(out->st.st_dev), uint64_t(out->st.st_ino)))
        return Refuse(ERefusal::kChanged, QStringLiteral("%1 was replaced since it was listed").arg(which));
    return CResult::Done();
}

bool SameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The kernel compares each range under lock and shares it only when equal, so a file that changed
// since it was compared is refused, not overwritten. Ranges already shared stay shared: their bytes
// were equal, so nothing visible changes.
CResult Clone(const COpened& keep, const COpened& copy, const std::atomic<bool>& stop)
{
    constexpr uint64_t kStep = 16 << 20;
    const uint64_t size = uint64_t(copy.st.st_size);
    // The request and its one destination, laid out as the kernel reads them.
    alignas(file_dedupe_range) char request[sizeof(file_dedupe_range) + sizeof(file_dedupe_range_info)];
    auto* head = reinterpret_cast<file_dedupe_range*>(request);
    file_dedupe_range_info& info = head->info[0];
    const auto changed = [&] {
        return !CFileComparer::Unchanged(keep.file.fd, keep.st) || !CFileComparer::Unchanged(copy.file.fd, copy.st);
    };
    for (uint64_t offset = 0; offset < size;) {
        if (stop.load(std::memory_order_relaxed))
            return Refuse(ERefusal::kStopped, QStringLiteral("stopped"));
        std::memset(request, 0, sizeof request);
        head->src_offset = offset;
        head->src_length = std::min(kStep, size - offset);
        head->dest_count = 1;
        info.dest_fd = copy.file.fd;
        info.dest_offset = offset;
        Step("share");
        const int rc = g_seams.dedupe ? g_seams.dedupe(keep.file.fd, head) : ioctl(keep.file.fd, FIDEDUPERANGE, head);
        const int callErr = rc != 0 ? errno : 0;
        // A file changed meanwhile makes the kernel refuse too (a range past a shrunk end is
        // "invalid"): say what happened, not that the file system cannot.
        if ((rc != 0 || info.status < 0) && changed())
            return Refuse(ERefusal::kChanged, QStringLiteral("it or the kept file changed while it was being linked"));
        if (rc != 0) {
            const int err = callErr;
            if (err == EOPNOTSUPP || err == ENOTTY || err == EINVAL || err == ENOSYS)
                return Refuse(ERefusal::kCannotClone, QStringLiteral("this file system cannot share blocks in place"));
            if (err == EPERM || err == EACCES)
                return Refuse(ERefusal::kOther, QStringLiteral("its blocks can be shared only by its owner"));
            return Fail(err, TrashErrorText(err));
        }
        if (info.status == FILE_DEDUPE_RANGE_DIFFERS)
            return Refuse(ERefusal::kDiffers, QStringLiteral("its contents differ from the kept file"));
        if (info.status < 0) {
            const int err = -info.status;
            if (err == EOPNOTSUPP || err == EINVAL)
                return Refuse(ERefusal::kCannotClone, QStringLiteral("this file system cannot share blocks in place"));
            return Fail(err, TrashErrorText(err));
        }
        // Fewer bytes than asked: the rest is asked for again, never taken as shared.
        if (info.bytes_deduped == 0 || info.bytes_deduped > head->src_length)
            return Refuse(ERefusal::kOther, QStringLiteral("the file system shared nothing"));
        offset += info.bytes_deduped;
    }
    if (changed())
        return Refuse(ERefusal::kChanged, QStringLiteral("it or the kept file changed while it was being linked"));
    CResult done = CResult::Done();
    done.size = size;
    return done;
}

// Removes a name this program made, but only while the file keeps another: never the last one.
void DropOwnName(int folder, const QByteArray& name)
{
    struct stat st {};
    if (fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 1)
        unlinkat(folder, name.constData(), 0);
}

CResult HardLink(const COpened& keep, const COpened& copy, const std::atomic<bool>& stop, CTrashJournal* journal)
{
    const uint64_t size = uint64_t(copy.st.st_size);
    // The bytes compared now, on the very files opened: the listing is only where to look.
    CFileComparer comparer(stop, nullptr);
    std::vector<std::vector<size_t>> classes;
    std::vector<size_t> unreadable;
    if (!comparer.Lockstep({keep.file.fd, copy.file.fd}, size, &classes, &unreadable))
        return Refuse(ERefusal::kStopped, QStringLiteral("stopped"));
    if (!unreadable.empty())
        return Refuse(ERefusal::kOther, QStringLiteral("it could not be read to the end"));
    if (classes.size() != 1)
        return Refuse(ERefusal::kDiffers, QStringLiteral("its contents differ from the kept file"));
    if (!CFileComparer::Unchanged(keep.file.fd, keep.st) || !CFileComparer::Unchanged(copy.file.fd, copy.st))
        return Refuse(ERefusal::kChanged, QStringLiteral("it changed while it was compared"));

    // The link is made beside the copy, then checked to be the file compared.
    QByteArray temp;
    int err = EEXIST;
    for (int n = 0; err == EEXIST && n < 100; ++n) {
        temp = ".sorvane-link-" + QByteArray::number(getpid()) + "-" + QByteArray::number(n);
        err = linkat(keep.folder.fd, keep.entry->name.constData(), copy.folder.fd, temp.constData(), 0) == 0 ? 0 : errno;
    }
    if (err == EXDEV)
        return Refuse(ERefusal::kOtherFileSystem, QStringLiteral("it is on another file system than the kept file"));
    if (err == EMLINK)
        return Refuse(ERefusal::kOther, QStringLiteral("the kept file has as many links as its file system allows"));
    if (err)
        return Fail(err, QStringLiteral("no link can be made here: ") + TrashErrorText(err));
    struct stat made {};
    if (fstatat(copy.folder.fd, temp.constData(), &made, AT_SYMLINK_NOFOLLOW) != 0 || !SameInode(made, keep.st)) {
        DropOwnName(copy.folder.fd, temp);
        return Refuse(ERefusal::kChanged, QStringLiteral("the kept file was replaced while it was being linked"));
    }

    Step("linked");
    // One step: the name holds the copy or the link, never nothing.
    const QByteArray& name = copy.entry->name;
    if (renameat2(copy.folder.fd, temp.constData(), copy.folder.fd, name.constData(), RENAME_EXCHANGE) != 0) {
        err = errno;
        DropOwnName(copy.folder.fd, temp);
        return Refuse(ERefusal::kOther, err == EINVAL || err == ENOSYS
                                            ? QStringLiteral("this file system cannot swap two names in one step")
                                            : TrashErrorText(err));
    }
    struct stat displaced {};
    if (fstatat(copy.folder.fd, temp.constData(), &displaced, AT_SYMLINK_NOFOLLOW) != 0 || !SameInode(displaced, copy.st)) {
        renameat2(copy.folder.fd, temp.constData(), copy.folder.fd, name.constData(), RENAME_EXCHANGE);
        DropOwnName(copy.folder.fd, temp);
        return Refuse(ERefusal::kChanged, QStringLiteral("it was replaced while it was being linked"));
    }

    CResult done = CResult::Done();
    // What the link left under the name: Undo swaps the copy back only while it is still that.
    struct stat linked {};
    CReplacedCopy replaced{temp, {uint64_t(keep.st.st_dev), uint64_t(keep.st.st_ino), true}, {}};
    if (fstatat(copy.folder.fd, name.constData(), &linked, AT_SYMLINK_NOFOLLOW) == 0 && SameInode(linked, keep.st))
        replaced.linkStamp = LinkStampOf(linked);
    const COutcome trashed = replaced.linkStamp.known ? MoveReplacedToTrash(*copy.entry, replaced, &done.trashed, journal)
                                                      : COutcome::Refused(QStringLiteral("the link was replaced as it was made"));
    if (!trashed.IsDone()) {
        // No trash to take the copy: it takes its name back, and the link goes.
        renameat2(copy.folder.fd, temp.constData(), copy.folder.fd, name.constData(), RENAME_EXCHANGE);
        DropOwnName(copy.folder.fd, temp);
        return CResult::Refused(ERefusal::kOther, QStringLiteral("the copy could not go to the trash: ") + trashed.Text(),
                                trashed.Error());
    }
    done.size = copy.st.st_nlink > 1 ? 0 : size;  // the copy's other names still hold its blocks
    return done;
}

}  // namespace

void SetTestSeams(const CTestSeams& seams)
{
    g_seams = seams;
}

CResult Replace(const CRequest& request, EKind kind, const std::atomic<bool>& stop, CTrashJournal* journal)
{
    COpened keep, copy;
    CResult o = Open(request.keep, "the kept file", &keep);
    if (!o.Linked())
        return o;
    o = Open(request.copy, "it", &copy);
    if (!o.Linked())
        return o;
    o.size = uint64_t(copy.st.st_size);
    if (SameInode(keep.st, copy.st))
        return Refuse(ERefusal::kSameFile, QStringLiteral("it is already the same file as the kept one"));
    if (keep.st.st_dev != copy.st.st_dev)
        return Refuse(ERefusal::kOtherFileSystem, QStringLiteral("it is on another file system than the kept file"));
    if (keep.st.st_size != copy.st.st_size)
        return Refuse(ERefusal::kDiffers, QStringLiteral("its contents differ from the kept file"));
    if (copy.st.st_size == 0)
        return Refuse(ERefusal::kOther, QStringLiteral("it is empty, so a link frees nothing"));
    return kind == EKind::kClone ? Clone(keep, copy, stop) : HardLink(keep, copy, stop, journal);
}

}  // namespace Link
