#include "FolderTree.h"

#include <QFileSystemModel>
#include <QHeaderView>
#include <QTimer>

CFolderTree::CFolderTree(QWidget* parent)
    : QTreeView(parent)
    , m_model(new QFileSystemModel(this))
{
    setObjectName(QStringLiteral("folderTree"));
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setReadOnly(true);
    m_model->setRootPath(QStringLiteral("/"));
    setModel(m_model);
    for (int c = 1; c < m_model->columnCount(); ++c)
        hideColumn(c);
    header()->hide();
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (current.isValid())
            QMetaObject::invokeMethod(this, &CFolderTree::FolderSelected, Qt::QueuedConnection);
    });
}

bool CFolderTree::SelectPath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QModelIndex index = m_model->index(path);
    if (!index.isValid() || !m_model->isDir(index))
        return false;
    setCurrentIndex(index);
    // The parents load in the background; scroll once they are laid out.
    QTimer::singleShot(200, this, [this, index = QPersistentModelIndex(index)] {
        if (index.isValid())
            scrollTo(index, QAbstractItemView::PositionAtCenter);
    });
    scrollTo(index);
    return true;
}

QString CFolderTree::SelectedPath() const
{
    const QModelIndex index = currentIndex();
    return index.isValid() ? m_model->filePath(index) : QString();
}

void CFolderTree::Refresh()
{
    // Dropping and setting the root path makes the model read the tree again.
    const QString selected = SelectedPath();
    m_model->setRootPath(QString());
    m_model->setRootPath(QStringLiteral("/"));
    if (!selected.isEmpty() && QFileInfo(selected).isDir()) {
        const QSignalBlocker block(selectionModel());
        setCurrentIndex(m_model->index(selected));
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
