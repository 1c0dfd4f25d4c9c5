// The two lists' context menus and the commands on their rows.

#include "SorvaneView.h"

#include "LinkOps.h"

#include "CommandIds.h"
#include "ShellOps.h"
#include "Texts.h"
#include "WaitCursor.h"

#include <QMenu>
#include <QTableView>

#include <algorithm>

namespace {

// The warning for an item in, or holding, a protected folder; empty for any other.
QString ProtectedCaution(const QByteArray& item)
{
    const std::string_view path(item.constData(), size_t(item.size()));
    if (!LinkOps::ReadProtected().Guards(path))
        return {};
    return QStringLiteral("%1 is in a protected folder, or holds one.").arg(EscapePath(path));
}
QByteArray Bytes(std::string_view v)
{
    return QByteArray(v.data(), qsizetype(v.size()));
}
}  // namespace

void CSorvaneView::BuildMenus()
{
    auto add = [this](QMenu* menu, int command) {
        const CMenuText& text = MenuText(command);
        QAction* a = menu->addAction(QString::fromUtf8(text.text), this, [this, command] { OnRowCommand(command); });
        a->setData(command);
        if (text.tip)
            a->setToolTip(QString::fromUtf8(text.tip));
        return a;
    };
    m_menuFileList = new QMenu(this);
    m_menuFileList->setDefaultAction(add(m_menuFileList, Cmd::ViewSelectedFile));
    add(m_menuFileList, Cmd::OpenFileFolder);
    add(m_menuFileList, Cmd::LocateFileInExplorer);
    m_menuFileList->addSeparator();
    add(m_menuFileList, Cmd::SendFileToRecycleBin);
    m_menuFileList->addSeparator();
    add(m_menuFileList, Cmd::FileProperties);
    m_menuFileList->addSeparator();
    add(m_menuFileList, Cmd::FolderPropertiesTop);

    m_menuFolderList = new QMenu(this);
    m_menuFolderList->setDefaultAction(add(m_menuFolderList, Cmd::OpenSelectedFolder));
    m_menuFolderList->addSeparator();
    add(m_menuFolderList, Cmd::SendFolderToRecycleBin);
    m_menuFolderList->addSeparator();
    add(m_menuFolderList, Cmd::FolderPropertiesBottom);

    m_listFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listFiles, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // Status rows have no file to act on.
        if (m_bDisplayFileList)
            m_menuFileList->popup(m_listFiles->viewport()->mapToGlobal(pos));
    });
    m_listFolders->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_listFolders, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_menuFolderList->popup(m_listFolders->viewport()->mapToGlobal(pos)); });
    connect(m_listFiles, &QAbstractItemView::doubleClicked, this, [this] { OnRowCommand(Cmd::ViewSelectedFile); });
    connect(m_listFolders, &QAbstractItemView::doubleClicked, this, [this] { OnRowCommand(Cmd::OpenSelectedFolder); });
}

int CSorvaneView::SelectedRow(QTableView* list) const
{
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CSorvaneView::OnRowCommand(int command)
{
    const bool fileRows = m_fileModel->HoldsFiles();
    const int fileRow = fileRows ? SelectedRow(m_listFiles) : -1;
    const int folderRow = SelectedRow(m_listFolders);
    IShellOps& shell = Shell();
    auto open = [this, &shell](std::string_view path) {
        QStringList tried;
        if (!shell.OpenInShell(Bytes(path), &tried))
            ReportNotOpened(this, EscapePath(path), tried);
    };
    switch (command) {
    case Cmd::ViewSelectedFile:
        if (fileRow >= 0 && m_listFiles->selectionModel()->selectedRows().size() == 1)
            open(m_fileModel->NativePath(fileRow));
        break;
    case Cmd::OpenFileFolder:
        if (fileRow >= 0)
            open(m_fileModel->NativeFolder(fileRow));
        break;
    case Cmd::OpenSelectedFolder:
        if (folderRow >= 0)
            open(m_folderModel->NativeFolder(folderRow));
        break;
    case Cmd::FileProperties:
    case Cmd::FolderPropertiesTop:
        if (fileRow >= 0) {
            CWaitCursor wait;
            shell.ShowShellProperties(this, Bytes(command == Cmd::FileProperties ? m_fileModel->NativePath(fileRow)
                                                                            : m_fileModel->NativeFolder(fileRow)));
        }
        break;
    case Cmd::FolderPropertiesBottom:
        if (folderRow >= 0) {
            CWaitCursor wait;
            shell.ShowShellProperties(this, Bytes(m_folderModel->NativeFolder(folderRow)));
        }
        break;
    case Cmd::SendFileToRecycleBin:
        if (fileRow >= 0) {
            const QByteArray file = Bytes(m_fileModel->NativePath(fileRow));
            if (!shell.SendToRecycleBin(this, {file}, {}, ProtectedCaution(file), !ProtectedCaution(file).isEmpty()).empty())
                m_fileModel->RemoveFileRow(fileRow);
        }
        break;
    case Cmd::SendFolderToRecycleBin:
        if (folderRow >= 0) {
            const QByteArray folder = Bytes(m_folderModel->NativeFolder(folderRow));
            const QString caution = ProtectedCaution(folder);
            if (shell.SendToRecycleBin(this, {folder}, {}, caution, !caution.isEmpty()).empty())
                break;
            m_folderModel->RemoveFolderRow(folderRow);
            emit FolderTreeChanged();
            // Only rows of files directly in that folder go; names differing in case are other folders.
            if (fileRows) {
                for (int r = m_fileModel->rowCount() - 1; r >= 0; --r) {
                    if (Bytes(m_fileModel->NativeFolder(r)) == folder)
                        m_fileModel->RemoveFileRow(r);
                }
            }
        }
        break;
    case Cmd::LocateFileInExplorer:
        if (fileRows) {
            CWaitCursor wait;
            QModelIndexList rows = m_listFiles->selectionModel()->selectedRows();
            std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
            for (const QModelIndex& index : rows) {
                QStringList tried;
                const std::string_view path = m_fileModel->NativePath(index.row());
                if (!shell.SelectInExplorer(Bytes(path), &tried)) {
                    ReportNotOpened(this, EscapePath(path), tried);
                    break;
                }
            }
        }
        break;
    default:
        break;
    }
}

