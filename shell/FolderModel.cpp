#include "FolderModel.h"

#include "LinkOps.h"
#include "PathArray.h"

#include <QApplication>
#include <QCollator>
#include <QFont>
#include <QStyle>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct CFolderModel::CNode {
    QByteArray name;
    QString shown;
    CNode* parent = nullptr;
    int row = 0;
    bool loaded = false;
    std::vector<std::unique_ptr<CNode>> children;
};

namespace {

// Sub-folders of path by their bytes: links to folders count, as in a file manager.
std::vector<QByteArray> ReadFolders(const QByteArray& path)
{
    std::vector<QByteArray> names;
    const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            close(fd);
        return names;
    }
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;  // hidden, and "." and ".."
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st {};
            folder = fstatat(dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (folder)
            names.emplace_back(e->d_name);
    }
    closedir(dir);
    return names;
}

}  // namespace

CFolderModel::CFolderModel(QObject* parent)
    : QAbstractItemModel(parent)
    , m_top(std::make_unique<CNode>())
    , m_icon(QApplication::style()->standardIcon(QStyle::SP_DirIcon))
{
    m_top->name = "/";
    m_top->shown = QStringLiteral("/");
}

CFolderModel::~CFolderModel() = default;

CFolderModel::CNode* CFolderModel::NodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<CNode*>(index.internalPointer()) : nullptr;
}

QModelIndex CFolderModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row == 0 ? createIndex(0, 0, m_top.get()) : QModelIndex();
    const CNode* node = NodeOf(parent);
    return size_t(row) < node->children.size() ? createIndex(row, 0, node->children[size_t(row)].get()) : QModelIndex();
}

QModelIndex CFolderModel::parent(const QModelIndex& child) const
{
    const CNode* node = NodeOf(child);
    if (!node || !node->parent)
        return {};
    return createIndex(node->parent->row, 0, node->parent);
}

int CFolderModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return 1;
    return int(NodeOf(parent)->children.size());
}

int CFolderModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool CFolderModel::hasChildren(const QModelIndex& parent) const
{
    const CNode* node = NodeOf(parent);
    // Not read yet: offered as openable, as a file manager does.
    return !node || !node->loaded || !node->children.empty();
}

bool CFolderModel::canFetchMore(const QModelIndex& parent) const
{
    const CNode* node = NodeOf(parent);
    return node && !node->loaded;
}

void CFolderModel::fetchMore(const QModelIndex& parent)
{
    if (CNode* node = NodeOf(parent); node && !node->loaded)
        Load(node, parent);
}

void CFolderModel::Load(CNode* node, const QModelIndex& index)
{
    node->loaded = true;
    std::vector<QByteArray> names = ReadFolders(NativePath(index));
    if (names.empty()) {
        // No arrow any more for a folder found empty.
        emit dataChanged(index, index);
        return;
    }
    std::vector<std::unique_ptr<CNode>> children;
    for (QByteArray& name : names) {
        auto child = std::make_unique<CNode>();
        child->shown = EscapePath(std::string_view(name.constData(), size_t(name.size())));
        child->name = std::move(name);
        child->parent = node;
        children.push_back(std::move(child));
    }
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(children.begin(), children.end(), [&](const auto& a, const auto& b) {
        const int order = collator.compare(a->shown, b->shown);
        return order != 0 ? order < 0 : a->name < b->name;
    });
    for (size_t i = 0; i < children.size(); ++i)
        children[i]->row = int(i);
    beginInsertRows(index, 0, int(children.size()) - 1);
    node->children = std::move(children);
    endInsertRows();
}

QVariant CFolderModel::data(const QModelIndex& index, int role) const
{
    const CNode* node = NodeOf(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return node->shown;
    case Qt::ToolTipRole: {
        const QByteArray path = NativePath(index);
        const std::string_view bytes(path.constData(), size_t(path.size()));
        const QString tip = LinkOps::ProtectedTip(m_protected, bytes, false);
        return tip.isEmpty() ? EscapePath(bytes) : EscapePath(bytes) + QLatin1Char('\n') + tip;
    }
    case Qt::FontRole: {
        if (m_protected.Empty())
            return {};
        const QByteArray path = NativePath(index);
        const std::string_view bytes(path.constData(), size_t(path.size()));
        if (!m_protected.Contains(bytes) && !m_protected.Covers(bytes))
            return {};
        QFont font;
        font.setItalic(true);
        return font;
    }
    case Qt::DecorationRole:
        return m_icon;
    default:
        return {};
    }
}

QByteArray CFolderModel::NativePath(const QModelIndex& index) const
{
    const CNode* node = NodeOf(index);
    if (!node || !node->parent)
        return "/";
    QByteArray path;
    for (; node->parent; node = node->parent)
        path.prepend('/' + node->name);
    return path;
}

QModelIndex CFolderModel::IndexOf(const QByteArray& path)
{
    if (!path.startsWith('/'))
        return {};
    QModelIndex at = index(0, 0);
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty())
            continue;
        CNode* node = NodeOf(at);
        if (!node->loaded)
            Load(node, at);
        const auto found = std::find_if(node->children.begin(), node->children.end(),
                                        [&](const auto& child) { return child->name == part; });
        if (found == node->children.end())
            return {};
        at = index((*found)->row, 0, at);
    }
    return at;
}

void CFolderModel::SetProtected(CProtectedFolders folders)
{
    m_protected = std::move(folders);
    const QModelIndex top = index(0, 0);
    emit dataChanged(top, top, {Qt::FontRole, Qt::ToolTipRole});
    MarksChanged(top);
}

void CFolderModel::MarksChanged(const QModelIndex& parent)
{
    // One notice for each folder's read sub-folders.
    const CNode* node = NodeOf(parent);
    if (node->children.empty())
        return;
    emit dataChanged(index(0, 0, parent), index(int(node->children.size()) - 1, 0, parent), {Qt::FontRole, Qt::ToolTipRole});
    for (size_t i = 0; i < node->children.size(); ++i)
        MarksChanged(index(int(i), 0, parent));
}

void CFolderModel::Reload()
{
    beginResetModel();
    m_top->children.clear();
    m_top->loaded = false;
    endResetModel();
}
