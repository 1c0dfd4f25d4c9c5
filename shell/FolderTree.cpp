#include "FolderTree.h"

#include "CommandIds.h"
#include "FolderModel.h"
#include "LinkOps.h"
#include "PathArray.h"
#include "Texts.h"

#include <QFile>
#include <QHeaderView>
#include <QMenu>

#include <dirent.h>

CFolderTree::CFolderTree(QWidget* parent)
    : QTreeView(parent)
    , m_model(new CFolderModel(this))
{
    setObjectName(QStringLiteral("folderTree"));
    setAccessibleName(QStringLiteral("Folders"));
    setModel(m_model);
    header()->hide();
    setUniformRowHeights(true);
    expand(m_model->index(0, 0));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (current.isValid())
            QMetaObject::invokeMethod(this, &CFolderTree::FolderSelected, Qt::QueuedConnection);
    });
    // Marks follow the stored protected folders, whichever window changed them.
    m_model->SetProtected(LinkOps::ReadProtected());
    connect(&LinkOps::ProtectedNotice(), &LinkOps::CProtectedNotice::Changed, this,
            [this] { m_model->SetProtected(LinkOps::ReadProtected()); });
    // A folder's own menu: protect it (and all below) from the selection helpers, or stop.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = indexAt(pos);
        if (!index.isValid())
            return;
        const QByteArray folder = m_model->NativePath(index);
        const std::string_view bytes(folder.constData(), size_t(folder.size()));
        QMenu menu(this);
        QAction* protect = menu.addAction(QString::fromUtf8(MenuText(Cmd::ProtectFolder).text));
        protect->setToolTip(QString::fromUtf8(MenuText(Cmd::ProtectFolder).tip));
        protect->setCheckable(true);
        protect->setChecked(LinkOps::ReadProtected().Contains(bytes));
        if (menu.exec(viewport()->mapToGlobal(pos)) != protect)
            return;
        CProtectedFolders folders = LinkOps::ReadProtected();
        folders.Toggle(bytes);
        LinkOps::WriteProtected(folders);
    });
}

bool CFolderTree::SelectPath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QModelIndex index = m_model->IndexOf(EncodeNativeExact(path));
    if (!index.isValid())
        return false;
    setCurrentIndex(index);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

QString CFolderTree::SelectedPath() const
{
    const QModelIndex index = currentIndex();
    if (!index.isValid())
        return {};
    const QByteArray path = m_model->NativePath(index);
    return DecodeNativeExact(std::string_view(path.constData(), size_t(path.size())));
}

QString CFolderTree::ExactPath(const QString& shown)
{
    // The model shows a byte that is not UTF-8 as U+FFFD. Each such part of
    // the path is looked up among its folder's entries by their bytes; the
    // result names them exactly (DecodeNativeExact), or is empty when two
    // entries would look the same.
    if (!shown.contains(QChar(0xFFFD)))
        return shown;
    QByteArray native;
    for (const QString& part : shown.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        QByteArray found = part.toUtf8();
        if (part.contains(QChar(0xFFFD))) {
            int matches = 0;
            if (DIR* dir = opendir(native.isEmpty() ? "/" : native.constData())) {
                while (const dirent* e = readdir(dir)) {
                    if (QFile::decodeName(e->d_name) == part) {
                        found = e->d_name;
                        ++matches;
                    }
                }
                closedir(dir);
            }
            if (matches != 1)
                return {};
        }
        native += '/' + found;
    }
    return DecodeNativeExact(native.isEmpty() ? std::string_view("/") : std::string_view(native.constData(), size_t(native.size())));
}

void CFolderTree::Refresh()
{
    const QString selected = SelectedPath();
    m_model->Reload();
    expand(m_model->index(0, 0));
    if (!selected.isEmpty()) {
        const QSignalBlocker block(selectionModel());
        const QModelIndex index = m_model->IndexOf(EncodeNativeExact(selected));
        if (index.isValid()) {
            setCurrentIndex(index);
            scrollTo(index);
        }
    }
}

void CFolderTree::focusInEvent(QFocusEvent* event)
{
    // Coming into focus with nothing current, the view makes its first row
    // current; only a user's choice may select a folder, so undo that quietly.
    const bool hadCurrent = currentIndex().isValid();
    {
        const QSignalBlocker block(selectionModel());
        QTreeView::focusInEvent(event);
        if (!hadCurrent)
            selectionModel()->clearCurrentIndex();
    }
    viewport()->update();
}
