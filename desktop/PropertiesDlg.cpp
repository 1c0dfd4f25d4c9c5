#include "PropertiesDlg.h"

#include "PathArray.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

CPropertiesDlg::CPropertiesDlg(QWidget* parent, const QByteArray& path)
    : QDialog(parent)
{
    const QString shown = DecodePath(std::string_view(path.constData(), size_t(path.size())));
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
        add(QStringLiteral("Size:"), QStringLiteral("%1 bytes").arg(QLocale().toString(qlonglong(st.st_size))));
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
