#include "TrashBatch.h"

#include "SystemFolders.h"

#include <QByteArrayList>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TrashBatch {
namespace {

constexpr char kHeader[] = "[Sorvane Trash Batch]";

bool Exists(const QByteArray& path)
{
    struct stat st {};
    return lstat(path.constData(), &st) == 0;
}

}  // namespace

QByteArray RecordFile()
{
    const std::string state = XdgFolders().state;
    return state.empty() ? QByteArray() : QByteArray::fromStdString(state) + "/sorvane/last-trash-batch";
}

bool Record(const std::vector<CTrashedItem>& items, QString* error)
{
    const QByteArray file = RecordFile();
    if (file.isEmpty()) {
        *error = QStringLiteral("the state folder cannot be found");
        return false;
    }
    if (items.empty()) {
        unlink(file.constData());
        return true;
    }
    QByteArray text = QByteArray(kHeader) + "\n";
    for (const CTrashedItem& item : items)
        text += item.original.toPercentEncoding("/") + "\t" + item.entry.toPercentEncoding("/") + "\t"
            + item.info.toPercentEncoding("/") + "\n";
    const QByteArray folder = file.left(file.lastIndexOf('/'));
    if (const int err = MakeFolders(folder)) {
        *error = TrashErrorText(err);
        return false;
    }
    // A new file renamed over the old one: a crash leaves one whole record or the other.
    QByteArray temp = file + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = TrashErrorText(errno);
        return false;
    }
    int err = 0;
    for (qsizetype done = 0; done < text.size() && !err;) {
        const ssize_t n = write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno != EINTR)
            err = errno;
        done += n > 0 ? n : 0;
    }
    if (!err && fsync(fd) != 0)
        err = errno;
    if (close(fd) != 0 && !err)
        err = errno;
    if (!err && rename(temp.constData(), file.constData()) != 0)
        err = errno;
    if (err) {
        unlink(temp.constData());
        *error = TrashErrorText(err);
        return false;
    }
    return true;
}

std::vector<CTrashedItem> Last()
{
    std::vector<CTrashedItem> items;
    const QByteArray file = RecordFile();
    // Only a regular file is read: anything else could block or mislead.
    const int fd = file.isEmpty() ? -1 : open(file.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return items;
    struct stat st {};
    QByteArray text;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < (64 << 20)) {
        char buffer[65536];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
            text.append(buffer, n);
    }
    close(fd);
    const QByteArrayList lines = text.split('\n');
    if (lines.isEmpty() || lines.first() != kHeader)
        return items;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayList fields = lines[i].split('\t');
        if (fields.size() != 3)
            continue;
        items.push_back({QByteArray::fromPercentEncoding(fields[0]), QByteArray::fromPercentEncoding(fields[1]),
                         QByteArray::fromPercentEncoding(fields[2])});
    }
    return items;
}

std::vector<CRestoreOutcome> RestoreLast()
{
    std::vector<CRestoreOutcome> outcomes;
    std::vector<CTrashedItem> left;
    for (const CTrashedItem& item : Last()) {
        CRestoreOutcome outcome{item.original, false, {}};
        if (!Exists(item.entry)) {
            outcome.reason = QStringLiteral("it is no longer in the trash");
        } else if (const int err = RenameNoReplaceAt(AT_FDCWD, item.entry.constData(), item.original.constData())) {
            outcome.reason = err == EEXIST ? QStringLiteral("something else is there now; it stays in the trash")
                : err == ENOENT            ? QStringLiteral("its folder is gone; it stays in the trash")
                                           : TrashErrorText(err) + QStringLiteral("; it stays in the trash");
            left.push_back(item);
        } else {
            outcome.restored = true;
            unlink(item.info.constData());  // only now: until the move, the entry must stay restorable
        }
        outcomes.push_back(outcome);
    }
    QString error;
    Record(left, &error);
    return outcomes;
}

}  // namespace TrashBatch
