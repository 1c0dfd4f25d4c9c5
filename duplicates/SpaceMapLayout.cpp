#include "SpaceMapLayout.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace SpaceMapLayout {
namespace {

bool NamedByWholePath(const std::string& names, const CFolder& f)
{
    return f.parent < 0 || (f.nameLength > 0 && names[f.nameOffset] == '/');
}

// Rectangles for areas (largest first, in px²) that fill r, rows kept near square.
std::vector<QRectF> Squarify(const std::vector<double>& areas, QRectF r)
{
    std::vector<QRectF> out(areas.size());
    double remaining = 0;
    for (double a : areas)
        remaining += a;
    size_t i = 0;
    while (i < areas.size() && remaining > 0) {
        const bool wide = r.width() >= r.height();
        const double side = wide ? r.height() : r.width();
        // Scaled to what is left of r, so rounding never spills over its edge.
        const double k = r.width() * r.height() / remaining;
        size_t j = i;
        double sum = 0;
        double worst = std::numeric_limits<double>::infinity();
        while (j < areas.size()) {
            const double s = sum + areas[j] * k;
            const double big = areas[i] * k, small = std::max(areas[j] * k, 1e-9);
            const double w = std::max(side * side * big / (s * s), s * s / (side * side * small));
            if (j > i && w > worst)
                break;
            worst = w;
            sum = s;
            ++j;
        }
        const double thick = j == areas.size() ? (wide ? r.width() : r.height()) : sum / side;
        double pos = wide ? r.top() : r.left();
        for (size_t n = i; n < j; ++n) {
            const double length = n + 1 == j ? (wide ? r.bottom() : r.right()) - pos : areas[n] * k / thick;
            out[n] = wide ? QRectF(r.left(), pos, thick, length) : QRectF(pos, r.top(), length, thick);
            pos += length;
            remaining -= areas[n];
        }
        if (wide)
            r.setLeft(r.left() + thick);
        else
            r.setTop(r.top() + thick);
        i = j;
    }
    return out;
}

// Folder paths to ids, open addressing: a million folders without a node each.
class CFolderIndex {
public:
    int32_t Find(std::string_view key) const
    {
        if (m_slots.empty())
            return -1;
        const uint32_t hash = Hash(key);
        for (size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
            const CSlot& slot = m_slots[at];
            if (slot.id < 0)
                return -1;
            if (slot.hash == hash && m_keys[size_t(slot.id)] == key)
                return slot.id;
        }
    }
    // ids come in order 0, 1, 2…; key must outlive the index.
    void Insert(std::string_view key, int32_t id)
    {
        if (2 * (m_keys.size() + 1) > m_slots.size())
            Grow();
        m_keys.push_back(key);
        Place({Hash(key), id});
    }

private:
    struct CSlot {
        uint32_t hash;
        int32_t id;
    };
    static uint32_t Hash(std::string_view key) { return uint32_t(std::hash<std::string_view>()(key)); }
    void Place(CSlot slot)
    {
        size_t at = slot.hash & m_mask;
        while (m_slots[at].id >= 0)
            at = (at + 1) & m_mask;
        m_slots[at] = slot;
    }
    void Grow()
    {
        std::vector<CSlot> old(std::max<size_t>(1024, m_slots.size() * 2), CSlot{0, -1});
        old.swap(m_slots);
        m_mask = m_slots.size() - 1;
        for (const CSlot& slot : old) {
            if (slot.id >= 0)
                Place(slot);
        }
    }

    std::vector<CSlot> m_slots;
    std::vector<std::string_view> m_keys;
    size_t m_mask = 0;
};

class CPlacer {
public:
    CPlacer(const CTree& tree, const CParams& params, const std::atomic<bool>& stop)
        : m_tree(tree), m_params(params), m_stop(stop)
    {
    }
    std::vector<CTile> tiles;

    void Place(int32_t folder, const QRectF& rect, int32_t depth, int32_t parentTile)
    {
        if (m_stop.load(std::memory_order_relaxed))
            return;
        const int32_t self = int32_t(tiles.size());
        const CFolder& f = m_tree.folders[size_t(folder)];
        const double minSide = m_params.minSide;
        constexpr double kPad = 2;
        QRectF inner = rect.adjusted(kPad, kPad, -kPad, -kPad);
        const bool label = inner.height() >= m_params.labelHeight + 2 * minSide && inner.width() >= 6 * minSide;
        if (label)
            inner.setTop(inner.top() + m_params.labelHeight);
        tiles.push_back({rect, inner.isEmpty() ? rect : inner, f.area, folder, parentTile, depth, label});
        if (inner.width() < 2 * minSide || inner.height() < 2 * minSide || f.area == 0)
            return;

        // Sub-folders too small for a tile of their own stay in the rest, with the folder's own files.
        const double scale = inner.width() * inner.height() / double(f.area);
        std::vector<double> areas;
        std::vector<int32_t> ids;
        uint64_t restBytes = f.area;
        for (uint32_t c = 0; c < f.childCount; ++c) {
            const int32_t child = m_tree.children[f.firstChild + c];
            const uint64_t bytes = m_tree.folders[size_t(child)].area;
            if (double(bytes) * scale < 2 * minSide * minSide)
                break;
            areas.push_back(double(bytes) * scale);
            ids.push_back(child);
            restBytes -= bytes;
        }
        if (ids.empty())
            return;
        if (restBytes > 0) {
            const double restArea = double(restBytes) * scale;
            const size_t at = size_t(std::find_if(areas.begin(), areas.end(), [&](double a) { return a < restArea; }) - areas.begin());
            areas.insert(areas.begin() + ptrdiff_t(at), restArea);
            ids.insert(ids.begin() + ptrdiff_t(at), -1);
        }
        tiles[size_t(self)].rest = QRectF();
        const std::vector<QRectF> rects = Squarify(areas, inner);
        for (size_t n = 0; n < ids.size(); ++n) {
            if (ids[n] < 0)
                tiles[size_t(self)].rest = rects[n];
            else if (rects[n].width() >= minSide && rects[n].height() >= minSide)
                Place(ids[n], rects[n], depth + 1, self);
            else
                restBytes += m_tree.folders[size_t(ids[n])].area;
        }
        tiles[size_t(self)].restBytes = restBytes;
    }

private:
    const CTree& m_tree;
    const CParams& m_params;
    const std::atomic<bool>& m_stop;
};

}  // namespace

QByteArray CTree::Path(int32_t folder) const
{
    std::vector<int32_t> chain;
    while (!NamedByWholePath(names, folders[size_t(folder)])) {
        chain.push_back(folder);
        folder = folders[size_t(folder)].parent;
    }
    QByteArray path = Name(folder);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.endsWith('/'))
            path += '/';
        path += Name(*it);
    }
    return path;
}

QByteArray CTree::Name(int32_t folder) const
{
    const CFolder& f = folders[size_t(folder)];
    return QByteArray(names.data() + f.nameOffset, qsizetype(f.nameLength));
}

double CTree::TypicalSize(int32_t folder) const
{
    const CFolder& f = folders[size_t(folder)];
    return f.area ? std::exp2(f.logWeight / double(f.area)) : 0;
}

CTree Build(const CInput& input, const std::atomic<bool>& stop)
{
    CTree t;
    const std::string_view root = input.root == "/" ? std::string_view() : std::string_view(input.root.constData(), size_t(input.root.size()));
    const auto addFolder = [&t](int32_t parent, std::string_view name) {
        CFolder f;
        f.parent = parent;
        f.nameOffset = t.names.size();
        f.nameLength = uint32_t(name.size());
        t.names.append(name);
        t.folders.push_back(f);
        return int32_t(t.folders.size() - 1);
    };
    addFolder(-1, root.empty() ? std::string_view("/") : root);

    // Keys are views into input.folders, which outlives the index.
    CFolderIndex ids;
    ids.Insert(root, 0);
    std::vector<size_t> missing;
    const size_t count = input.folderLength.size();
    t.itemFolder.resize(count);
    size_t offset = 0;
    for (size_t i = 0; i < count; ++i) {
        if ((i & 0xffff) == 0 && stop.load(std::memory_order_relaxed))
            return {};
        const std::string_view folder(input.folders.data() + offset, input.folderLength[i]);
        offset += input.folderLength[i];
        int32_t id = ids.Find(folder);
        if (id < 0) {
            const bool below = folder.size() > root.size() && folder.compare(0, root.size(), root) == 0 && folder[root.size()] == '/';
            if (!below) {
                id = addFolder(0, folder.empty() ? std::string_view("/") : folder);
                ids.Insert(folder, id);
            } else {
                // The nearest folder above that is known, then the missing ones down from it.
                missing.clear();
                size_t end = folder.size();
                int32_t parent = 0;
                for (;;) {
                    missing.push_back(end);
                    end = folder.rfind('/', end - 1);
                    if (end <= root.size())
                        break;
                    const int32_t known = ids.Find(folder.substr(0, end));
                    if (known >= 0) {
                        parent = known;
                        break;
                    }
                }
                for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
                    parent = addFolder(parent, folder.substr(end + 1, *it - end - 1));
                    ids.Insert(folder.substr(0, *it), parent);
                    end = *it;
                }
                id = parent;
            }
        }
        t.itemFolder[i] = id;
    }
    return t;
}

bool Sum(CTree& t, const std::vector<uint64_t>& size, const std::vector<char>& spare, const std::atomic<bool>& stop)
{
    for (CFolder& f : t.folders) {
        f.area = 0;
        f.logWeight = 0;
        f.spareFiles = 0;
        f.firstChild = f.childCount = 0;
    }
    for (size_t i = 0; i < t.itemFolder.size(); ++i) {
        if ((i & 0xffff) == 0 && stop.load(std::memory_order_relaxed))
            return false;
        if (!spare[i])
            continue;
        CFolder& f = t.folders[size_t(t.itemFolder[i])];
        f.area += size[i];
        f.logWeight += double(size[i]) * std::log2(double(std::max<uint64_t>(size[i], 1)));
        ++f.spareFiles;
    }

    // Parents come first, so one backward pass adds every folder into its parent.
    std::vector<uint32_t> counts(t.folders.size(), 0);
    for (size_t id = t.folders.size() - 1; id > 0; --id) {
        const CFolder& f = t.folders[id];
        CFolder& p = t.folders[size_t(f.parent)];
        p.area += f.area;
        p.logWeight += f.logWeight;
        p.spareFiles += f.spareFiles;
        if (f.area > 0)
            ++counts[size_t(f.parent)];
    }
    uint32_t next = 0;
    for (size_t id = 0; id < t.folders.size(); ++id) {
        t.folders[id].firstChild = next;
        next += counts[id];
    }
    t.children.assign(next, 0);
    for (size_t id = 1; id < t.folders.size(); ++id) {
        const CFolder& f = t.folders[id];
        if (f.area > 0) {
            CFolder& p = t.folders[size_t(f.parent)];
            t.children[p.firstChild + p.childCount++] = int32_t(id);
        }
    }
    if (stop.load())
        return false;
    for (const CFolder& f : t.folders) {
        const auto first = t.children.begin() + f.firstChild;
        std::sort(first, first + f.childCount, [&t](int32_t a, int32_t b) {
            const uint64_t x = t.folders[size_t(a)].area, y = t.folders[size_t(b)].area;
            return x != y ? x > y : a < b;
        });
    }
    return true;
}

std::vector<CTile> LayOut(const CTree& tree, const CParams& params, const std::atomic<bool>& stop)
{
    if (tree.folders.empty() || params.size.isEmpty())
        return {};
    CPlacer placer(tree, params, stop);
    placer.Place(0, QRectF(QPointF(0, 0), params.size), 0, -1);
    if (stop.load())
        return {};
    return std::move(placer.tiles);
}

CFlatRows Flatten(const std::vector<CResultRow>& rows, const std::vector<int32_t>& sameAs, const QByteArray& root)
{
    CFlatRows flat;
    flat.input = std::make_shared<CInput>();
    CInput& input = *flat.input;
    input.root = root;
    auto sizes = std::make_shared<std::vector<uint64_t>>();
    flat.rowItem.assign(rows.size(), -1);
    sizes->reserve(rows.size());
    input.folderLength.reserve(rows.size());
    // Typical folder lengths: only what is written takes memory, and a longer tail just grows it.
    input.folders.reserve(rows.size() * 48);
    int32_t group = -1;
    for (size_t i = 0; i < rows.size(); ++i) {
        const CResultRow& r = rows[i];
        if (!r.opened)
            continue;
        if (sameAs[i] >= 0) {
            flat.rowItem[i] = flat.rowItem[size_t(sameAs[i])];
            continue;
        }
        if (r.group != group || flat.groupStart.empty())
            flat.groupStart.push_back(uint32_t(sizes->size()));
        group = r.group;
        const size_t length = std::strlen(r.path);
        const void* slash = memrchr(r.path, '/', length);
        const uint32_t folderLength = slash ? uint32_t(static_cast<const char*>(slash) - r.path) : 0;
        flat.rowItem[i] = int32_t(sizes->size());
        input.folderLength.push_back(folderLength);
        input.folders.append(r.path, folderLength);
        sizes->push_back(r.sizeKey);
    }
    flat.sizes = std::move(sizes);
    return flat;
}

QByteArray CommonFolder(const std::vector<CResultRow>& rows)
{
    if (rows.empty())
        return {};
    // Folders end in '/', so the common start cut after its last '/' is a folder.
    std::string_view common = rows.front().FolderWithSlash();
    for (const CResultRow& r : rows) {
        const std::string_view folder = r.FolderWithSlash();
        size_t same = 0;
        while (same < common.size() && same < folder.size() && common[same] == folder[same])
            ++same;
        common = common.substr(0, same);
    }
    common = common.substr(0, common.rfind('/') + 1);
    if (common.size() > 1)
        common.remove_suffix(1);
    return QByteArray(common.data(), qsizetype(common.size()));
}

}  // namespace SpaceMapLayout
