#include "CompareFolderDlg.h"

#include "AppTexts.h"
#include "OptionsStore.h"
#include "PathArray.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

CCompareFolderDlg::CCompareFolderDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("compareFolderDialog"));
    setWindowTitle(QStringLiteral("Compare With Folder - %1").arg(Res::AppTitle()));
    COptionsStore store;
    QString folder;
    store.ReadString(QLatin1String(Opt::CompareWithFolder), QString(), folder);

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral("The duplicate search groups the listed files together with the files of this "
                                            "folder. Leave it empty to search the listed folder alone."), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* row = new QHBoxLayout;
    m_folder = new QLineEdit(folder, this);
    m_folder->setObjectName(QStringLiteral("compareFolder"));
    m_folder->setAccessibleName(QStringLiteral("Folder to Compare With"));
    m_folder->setPlaceholderText(QStringLiteral("no folder"));
    m_folder->setClearButtonEnabled(true);
    m_folder->setMinimumWidth(320);
    row->addWidget(m_folder, 1);
    auto* browse = new QPushButton(QStringLiteral("&Browse…"), this);
    browse->setAccessibleName(QStringLiteral("Browse…"));
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, &CCompareFolderDlg::Browse);
    row->addWidget(browse);
    auto* clear = new QPushButton(QStringLiteral("C&lear"), this);
    clear->setAccessibleName(QStringLiteral("Clear"));
    clear->setToolTip(QStringLiteral("Compare with no folder"));
    clear->setAutoDefault(false);
    connect(clear, &QPushButton::clicked, m_folder, &QLineEdit::clear);
    row->addWidget(clear);
    layout->addLayout(row);
    m_problem = new QLabel(this);
    m_problem->setAccessibleName(QStringLiteral("Folder Problem"));
    m_problem->setTextFormat(Qt::PlainText);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #c0392b"));
    m_problem->hide();
    layout->addWidget(m_problem);

    m_reference = new QCheckBox(QStringLiteral("Use as a &reference: never propose its files"), this);
    m_reference->setObjectName(QStringLiteral("compareReference"));
    m_reference->setAccessibleName(m_reference->text().remove(QLatin1Char('&')));
    m_reference->setToolTip(QStringLiteral("The helpers never check its files, the trash and links refuse them, and groups "
                                           "wholly inside it are not shown"));
    m_reference->setChecked(store.IsOn(Opt::CompareWithReference));
    layout->addWidget(m_reference);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCompareFolderDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CCompareFolderDlg::reject);
    layout->addWidget(buttons);
}

void CCompareFolderDlg::Browse()
{
    // Qt's own chooser: it is the same on every desktop, and reachable through the accessibility bus.
    const QString start = m_folder->text().isEmpty() ? QDir::homePath() : m_folder->text();
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Compare With Folder"), start,
                                                             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (!chosen.isEmpty())
        m_folder->setText(chosen);
}

QString CCompareFolderDlg::Problem() const
{
    return m_problem->isHidden() ? QString() : m_problem->text();
}

void CCompareFolderDlg::accept()
{
    QString folder = m_folder->text();
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    struct stat st {};
    QString problem;
    if (!folder.isEmpty() && !folder.startsWith(QLatin1Char('/')))
        problem = QStringLiteral("Give the whole path, from /.");
    else if (!folder.isEmpty() && stat(EncodeNativeExact(folder).constData(), &st) != 0)
        problem = QStringLiteral("%1: %2").arg(ShownPath(folder), QString::fromLocal8Bit(std::strerror(errno)));
    else if (!folder.isEmpty() && !S_ISDIR(st.st_mode))
        problem = QStringLiteral("%1 is not a folder.").arg(ShownPath(folder));
    m_problem->setText(problem);
    m_problem->setAccessibleDescription(problem);
    m_problem->setVisible(!problem.isEmpty());
    if (!problem.isEmpty()) {
        m_folder->setFocus();
        return;
    }
    // A write that fails is told by the store's handler, in the main window's status bar.
    COptionsStore store;
    store.WriteString(QLatin1String(Opt::CompareWithFolder), folder);
    store.WriteInt(QLatin1String(Opt::CompareWithReference.name), m_reference->isChecked() ? 1 : 0);
    QDialog::accept();
}
