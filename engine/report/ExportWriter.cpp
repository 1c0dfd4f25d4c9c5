#include "ExportWriter.h"

#include "WriteAll.h"

#include "AppTexts.h"
#include "PathArray.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

QByteArray WriteExportFile(int count, const std::function<std::string_view(int)>& pathAt, QString* error)
{
    // A new file each time, created exclusively, so no earlier export is overwritten.
    const QByteArray stem = QFile::encodeName(QDir::tempPath()) + "/" + Res::AppTitle().left(3).toUtf8();
    const unsigned start = unsigned(QDateTime::currentMSecsSinceEpoch() ^ getpid());
    QByteArray name;
    int fd = -1;
    for (unsigned k = 0; k <= 0xFFFFF && fd < 0; ++k) {
        name = stem + QByteArray::number((start + k) & 0xFFFFF, 16).toUpper() + ".TMP";
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return {};
    }

    std::string buffer;
    int writeError = 0;
    auto flush = [&] {
        if (!writeError)
            writeError = WriteAll(fd, buffer.data(), buffer.size());
        buffer.clear();
    };
    auto append = [&](const QString& text) {
        for (const QChar c : text) {
            buffer += char(c.unicode() & 0xFF);
            buffer += char(c.unicode() >> 8);
        }
    };
    for (int i = 0; i < count && !writeError; ++i) {
        if (i > 0)
            buffer.append("\r\0\n\0", 4);
        append(EscapePath(pathAt(i), true));
        if (buffer.size() >= 64 * 1024)
            flush();
    }
    flush();
    if (::close(fd) != 0 && !writeError)
        writeError = errno;
    if (writeError) {
        // A half-written list is no use to anyone.
        ::unlink(name.constData());
        *error = QString::fromLocal8Bit(strerror(writeError));
        return {};
    }
    return name;
}

namespace {

QByteArray CsvField(const QString& text)
{
    QByteArray field = text.toUtf8();
    if (!field.contains(',') && !field.contains('"') && !field.contains('\n') && !field.contains('\r'))
        return field;
    return '"' + field.replace('"', "\"\"") + '"';
}

}  // namespace

bool SaveFileList(const QString& file, int count, const std::function<std::string_view(int)>& pathAt, EListFormat format,
                  QString* error)
{
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    QByteArray buffer;
    if (format == EListFormat::Csv)
        buffer = "path,size,modified\n";
    for (int i = 0; i < count; ++i) {
        const std::string_view path = pathAt(i);
        const QString shown = EscapePath(path, true);
        if (format == EListFormat::Text) {
            buffer += shown.toUtf8() + '\n';
        } else {
            struct stat st {};
            const bool known = lstat(std::string(path).c_str(), &st) == 0;
            buffer += CsvField(shown) + ',' + (known ? QByteArray::number(qlonglong(st.st_size)) : QByteArray()) + ','
                + (known ? QDateTime::fromSecsSinceEpoch(st.st_mtime).toString(Qt::ISODate).toUtf8() : QByteArray()) + '\n';
        }
        if (buffer.size() >= (1 << 20) || i + 1 == count) {
            if (out.write(buffer) != buffer.size())
                break;
            buffer.clear();
        }
    }
    if (!buffer.isEmpty())
        out.write(buffer);
    if (out.error() != QFileDevice::NoError || !out.commit()) {
        *error = out.errorString();
        out.cancelWriting();
        return false;
    }
    return true;
}
