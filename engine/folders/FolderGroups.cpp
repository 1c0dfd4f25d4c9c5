#include "FolderGroups.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_map>

#include <sys/stat.h>

namespace FolderGroups {
namespace {

// Tokens stand for a content: equal tokens, equal contents. One with this bit matches nothing.
constexpr uint64_t kAlone = uint64_t(1) << 63;

std::string_view ParentOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || path.size() < 2)
        return {};
    return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

std::string_view NameOf(std::string_view path)
{
    return path.substr(path.rfind('/') + 1);
}

struct CEntry {
    std::string_view name;
    uint64_t token;
    bool folder;
};

struct CFolder {
    std::string_view path;
    int32_t parent = -1;
    uint32_t depth = 0;
    bool unread = false;
    uint64_t bytes = 0;
    uint64_t files = 0;
    uint64_t token = 0;
    std::vector<CEntry> entries;
};

class CBuilder {
public:
    int32_t Folder(std::string_view path)
    {
        const auto found = m_index.find(path);
        if (found != m_index.end())
            return found->second;
        const int32_t id = int32_t(m_folders.size());
        m_index.emplace(path, id);
        m_folders.emplace_back();
        m_folders.back().path = path;
        m_folders.back().depth = uint32_t(std::count(path.begin(), path.end(), '/'));
        return id;
    }
    // Links each folder to its parent, which holds it as an entry; the outermost folder has none.
    void LinkParents()
    {
        const size_t count = m_folders.size();
        for (size_t i = 0; i < count; ++i) {
            const std::string_view parent = ParentOf(m_folders[i].path);
            const auto found = parent.empty() ? m_index.end() : m_index.find(parent);
            if (found != m_index.end())
                m_folders[i].parent = found->second;
        }
    }
    std::vector<CFolder>& Folders() { return m_folders; }

    // A folder's token from its entries, sorted by name: equal names and tokens, equal token.
    uint64_t TokenOf(CFolder& f)
    {
        if (f.unread)
            return kAlone | m_alone++;
        std::sort(f.entries.begin(), f.entries.end(), [](const CEntry& a, const CEntry& b) { return a.name < b.name; });
        m_key.clear();
        for (const CEntry& e : f.entries) {
            if (e.token & kAlone)
                return kAlone | m_alone++;  // no other folder can hold this entry's content
            m_key.append(e.name);
            m_key += '\0';
            m_key += e.folder ? 'd' : 'f';
            char bytes[sizeof e.token];
            std::memcpy(bytes, &e.token, sizeof bytes);
            m_key.append(bytes, sizeof bytes);
        }
        const auto [at, inserted] = m_interned.try_emplace(m_key, m_nextShared);
        if (inserted)
            ++m_nextShared;
        return at->second;
    }
    uint64_t Alone() { return kAlone | m_alone++; }
    // Interned folder tokens follow the files' content tokens.
    void StartSharedAt(uint64_t first) { m_nextShared = first; }

private:
    std::unordered_map<std::string_view, int32_t> m_index;
    std::vector<CFolder> m_folders;
    std::unordered_map<std::string, uint64_t> m_interned;
    std::string m_key;
    uint64_t m_alone = 0;
    uint64_t m_nextShared = 0;
};

}  // namespace

bool Find(const CFillInput& files, const CTree& tree, const std::atomic<bool>& stop, ContentCheck::CProgress* progress,
          std::vector<CFolderRow>* rows)
{
    rows->clear();
    CFillResult result;
    if (!RunResultsFill(files, result, stop) || !ContentCheck::Run(result.rows, stop, progress))
        return false;

    // A file's token is its group of identical files; one that could not be read matches nothing.
    struct CContent {
        uint64_t token;
        uint64_t size;
    };
    std::unordered_map<std::string_view, CContent> contentOf;
    contentOf.reserve(result.rows.size());
    uint64_t groups = 0;
    CBuilder builder;
    for (const CResultRow& r : result.rows) {
        contentOf.emplace(r.Path(), CContent{r.opened ? uint64_t(r.group) : builder.Alone(), r.sizeKey});
        groups = std::max(groups, uint64_t(r.group) + 1);
    }
    builder.StartSharedAt(groups);

    for (const std::string& f : tree.folders)
        builder.Folder(f);
    for (const std::string& f : tree.unread)
        builder.Folders()[size_t(builder.Folder(f))].unread = true;
    // Folder keys and entry names point into the paths: copied when the input does not keep them.
    const int count = files.count();
    std::vector<std::string> owned;
    if (!files.stable) {
        owned.reserve(size_t(count));
        for (int i = 0; i < count; ++i)
            owned.emplace_back(files.at(i));
    }
    for (int i = 0; i < count; ++i) {
        const std::string_view path = files.stable ? files.at(i) : std::string_view(owned[size_t(i)]);
        const std::string_view parent = ParentOf(path);
        if (parent.empty())
            continue;
        const int32_t folder = builder.Folder(parent);
        const auto content = contentOf.find(path);
        CFolder& f = builder.Folders()[size_t(folder)];
        f.entries.push_back({NameOf(path), content == contentOf.end() ? builder.Alone() : content->second.token, false});
        f.files += 1;
        f.bytes += content == contentOf.end() ? 0 : content->second.size;
    }
    builder.LinkParents();
    std::vector<CFolder>& folders = builder.Folders();

    // Deepest first, so each folder's sub-folders have their tokens before it.
    std::vector<int32_t> order(folders.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int32_t(i);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return folders[size_t(a)].depth > folders[size_t(b)].depth; });
    for (const int32_t id : order) {
        if (stop.load(std::memory_order_relaxed))
            return false;
        CFolder& f = folders[size_t(id)];
        f.token = builder.TokenOf(f);
        f.entries = {};  // done with: memory goes back as the walk up goes on
        if (f.parent >= 0) {
            CFolder& parent = folders[size_t(f.parent)];
            parent.entries.push_back({NameOf(f.path), f.token, true});
            parent.files += f.files;
            parent.bytes += f.bytes;
        }
    }

    // Folders of one shared token, holding files: the copies.
    std::unordered_map<uint64_t, std::vector<int32_t>> byToken;
    for (size_t i = 0; i < folders.size(); ++i) {
        if (!(folders[i].token & kAlone) && folders[i].files > 0)
            byToken[folders[i].token].push_back(int32_t(i));
    }
    const auto copied = [&](int32_t id) {
        const auto found = byToken.find(folders[size_t(id)].token);
        return found != byToken.end() && found->second.size() > 1;
    };
    // A copy matched through its parent is the same copy again: members whose parents are copies of
    // each other, under one name, count once. A group is listed when two of its members are not that.
    std::vector<std::vector<int32_t>> listed;
    for (auto& [token, members] : byToken) {
        (void)token;
        if (members.size() < 2)
            continue;
        std::sort(members.begin(), members.end(), [&](int32_t a, int32_t b) { return folders[size_t(a)].path < folders[size_t(b)].path; });
        std::vector<int32_t> kept;
        std::set<std::pair<uint64_t, std::string_view>> seen;
        for (const int32_t m : members) {
            const CFolder& f = folders[size_t(m)];
            if (f.parent >= 0 && copied(f.parent)) {
                const std::pair<uint64_t, std::string_view> key{folders[size_t(f.parent)].token, NameOf(f.path)};
                if (!seen.insert(key).second)
                    continue;
            }
            kept.push_back(m);
        }
        if (kept.size() > 1)
            listed.push_back(std::move(kept));
    }
    std::sort(listed.begin(), listed.end(), [&](const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
        const CFolder& x = folders[size_t(a.front())];
        const CFolder& y = folders[size_t(b.front())];
        return x.bytes != y.bytes ? x.bytes > y.bytes : x.path < y.path;
    });
    for (size_t g = 0; g < listed.size(); ++g) {
        for (const int32_t m : listed[g]) {
            const CFolder& f = folders[size_t(m)];
            rows->push_back({std::string(f.path), f.bytes, f.files, int32_t(g)});
        }
    }
    return !stop.load(std::memory_order_relaxed);
}

CFillResult ToRows(const std::vector<CFolderRow>& folders)
{
    CFillResult result;
    result.arenas = std::make_shared<std::vector<CTextArena>>(1);
    for (const CFolderRow& f : folders) {
        CResultRow row;
        row.path = result.arenas->front().Store(f.path);
        row.group = f.group;
        struct stat st {};
        if (lstat(row.path, &st) == 0 && S_ISDIR(st.st_mode)) {
            row.opened = row.hasModified = true;
            row.sizeKey = f.bytes;
            row.modified = int64_t(st.st_mtim.tv_sec);
            row.dev = uint64_t(st.st_dev);
            row.ino = uint64_t(st.st_ino);
        }
        result.rows.push_back(row);
    }
    return result;
}

}  // namespace FolderGroups
