#include "FolderTree.h"

#include "PathArray.h"

#include <QFileSystemModel>
#include <QHeaderView>
#include <QTimer>

#include <dirent.h>

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
    return index.isValid() ? ExactPath(m_model->filePath(index)) : QString();
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
