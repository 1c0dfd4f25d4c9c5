#include "PropertiesDlg.h"

#include "PathArray.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPointer>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <ftw.h>
#include <sys/stat.h>

namespace {
thread_local const std::atomic<bool>* t_stop = nullptr;
thread_local CPropertiesDlg::CFolderTotal* t_total = nullptr;

int CountEntry(const char*, const struct stat* st, int type, FTW*)
{
    if (type == FTW_F && S_ISREG(st->st_mode)) {
        t_total->bytes += uint64_t(st->st_size);
        ++t_total->files;
    } else if (type == FTW_DNR) {
        t_total->unreadable = true;
    }
    return *t_stop ? FTW_STOP : FTW_CONTINUE;
}
}  // namespace

CPropertiesDlg::CFolderTotal CPropertiesDlg::CountFolder(const QByteArray& path, const std::atomic<bool>& stop)
{
    CFolderTotal total;
    t_stop = &stop;
    t_total = &total;
    nftw(path.constData(), CountEntry, 32, FTW_PHYS | FTW_MOUNT | FTW_ACTIONRETVAL);
    return total;
}

CPropertiesDlg::CPropertiesDlg(QWidget* parent, const QByteArray& path)
    : QDialog(parent)
{
    const QString shown = EscapePath(std::string_view(path.constData(), size_t(path.size())));
    const int slash = shown.lastIndexOf(QLatin1Char('/'));
    setWindowTitle(QStringLiteral("%1 Properties").arg(shown.mid(slash + 1)));
    auto* form = new QFormLayout(this);
    auto add = [this, form](const QString& label, const QString& value) {
        auto* text = new QLabel(value, this);
        text->setTextFormat(Qt::PlainText);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(label, text);
    };
    add(QStringLiteral("Name:"), shown.mid(slash + 1));
    add(QStringLiteral("Location:"), slash <= 0 ? QStringLiteral("/") : shown.left(slash));
    struct stat st;
    if (lstat(path.constData(), &st) != 0) {
        add(QStringLiteral("Kind:"), QString::fromLocal8Bit(strerror(errno)));
    } else {
        const QString kind = S_ISDIR(st.st_mode) ? QStringLiteral("Folder")
            : S_ISLNK(st.st_mode)               ? QStringLiteral("Symbolic link")
            : S_ISREG(st.st_mode) ? QMimeDatabase().mimeTypeForFile(shown, QMimeDatabase::MatchExtension).comment()
                                  : QStringLiteral("Special file");
        add(QStringLiteral("Kind:"), kind);
        if (S_ISDIR(st.st_mode)) {
            // The folder entry's own size says nothing of what it holds: add up its contents instead.
            auto* size = new QLabel(QStringLiteral("Counting…"), this);
            size->setTextFormat(Qt::PlainText);
            size->setTextInteractionFlags(Qt::TextSelectableByMouse);
            form->addRow(QStringLiteral("Size of contents:"), size);
            m_counter.Start([this, path, size = QPointer<QLabel>(size)](const std::atomic<bool>& stop) {
                const CFolderTotal total = CountFolder(path, stop);
                if (stop)
                    return;
                QMetaObject::invokeMethod(this, [size, total] {
                    if (size)
                        size->setText(QStringLiteral("%1 bytes in %2 file(s)%3")
                                          .arg(QLocale().toString(qulonglong(total.bytes)), QLocale().toString(total.files),
                                               total.unreadable ? QStringLiteral(" (some folders could not be read)") : QString()));
                });
            });
        } else {
            add(QStringLiteral("Size:"), QStringLiteral("%1 bytes").arg(QLocale().toString(qlonglong(st.st_size))));
        }
        add(QStringLiteral("Modified:"),
            QLocale().toString(QDateTime::fromSecsSinceEpoch(st.st_mtime), QLocale::LongFormat));
        const passwd* pw = getpwuid(st.st_uid);
        const group* gr = getgrgid(st.st_gid);
        add(QStringLiteral("Owner:"), QStringLiteral("%1 (group %2)")
                                         .arg(pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(st.st_uid),
                                              gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(st.st_gid)));
        QString perms;
        for (int shift = 6; shift >= 0; shift -= 3) {
            perms += (st.st_mode >> shift) & 4 ? QLatin1Char('r') : QLatin1Char('-');
            perms += (st.st_mode >> shift) & 2 ? QLatin1Char('w') : QLatin1Char('-');
            perms += (st.st_mode >> shift) & 1 ? QLatin1Char('x') : QLatin1Char('-');
        }
        add(QStringLiteral("Permissions:"), QStringLiteral("%1 (%2)").arg(perms).arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}
