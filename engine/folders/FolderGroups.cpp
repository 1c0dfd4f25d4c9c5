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

std::string_view NameOf(std::string_view path)
{
    return path.substr(path.rfind('/') + 1);
}

struct CEntry {
    std::string_view name;
    uint64_t token;
    char kind;  // 'f' file, 'd' folder, 'o' anything else
};

struct CFolder {
    std::string_view name;
    uint32_t parent = CTree::kNone;
    uint32_t depth = 0;
    bool unread = false;
    uint64_t bytes = 0;
    uint64_t files = 0;
    uint64_t token = 0;
    std::vector<CEntry> entries;
};

// Interns folder contents: equal names and tokens, equal token.
class CTokens {
public:
    explicit CTokens(uint64_t firstShared) : m_nextShared(firstShared) {}
    uint64_t Alone() { return kAlone | m_alone++; }
    // An entry that is neither file nor folder: equal what, equal token. Its key starts with a NUL,
    // which no folder's key does (names hold none).
    uint64_t OfOther(std::string_view what)
    {
        if (what.empty() || what[0] == '?')
            return Alone();  // not looked at: it matches nothing
        m_key.assign(1, '\0');
        m_key.append(what);
        return Intern();
    }
    uint64_t Of(CFolder& f)
    {
        if (f.unread)
            return Alone();
        std::sort(f.entries.begin(), f.entries.end(), [](const CEntry& a, const CEntry& b) { return a.name < b.name; });
        m_key.clear();
        for (const CEntry& e : f.entries) {
            if (e.token & kAlone)
                return Alone();  // no other folder can hold this entry's content
            m_key.append(e.name);
            m_key += '\0';
            m_key += e.kind;
            char bytes[sizeof e.token];
            std::memcpy(bytes, &e.token, sizeof bytes);
            m_key.append(bytes, sizeof bytes);
        }
        return Intern();
    }

private:
    uint64_t Intern()
    {
        const auto [at, inserted] = m_interned.try_emplace(m_key, m_nextShared);
        if (inserted)
            ++m_nextShared;
        return at->second;
    }

    std::unordered_map<std::string, uint64_t> m_interned;
    std::string m_key;
    uint64_t m_alone = 0;
    uint64_t m_nextShared;
};

}  // namespace

uint32_t CTree::Climb(size_t length)
{
    // The walk only goes down from the folder last entered, or back up: the chain mirrors its stack.
    while (!m_chain.empty() && m_chain.back().first > length)
        m_chain.pop_back();
    return !m_chain.empty() && m_chain.back().first == length ? m_chain.back().second : kNone;
}

void CTree::Add(std::string_view folder, bool unread)
{
    const size_t slash = folder.rfind('/');
    const uint32_t parent = m_folders.empty() || slash == std::string_view::npos ? kNone : Climb(slash == 0 ? 1 : slash);
    const uint32_t id = uint32_t(m_folders.size());
    m_folders.push_back({parent, std::string(parent == kNone ? folder : folder.substr(slash + 1)), unread});
    if (!unread)
        m_chain.emplace_back(folder.size(), id);
}

void CTree::AddFile(std::string_view path)
{
    const size_t slash = path.rfind('/');
    m_fileFolder.push_back(slash == std::string_view::npos ? kNone : Climb(slash == 0 ? 1 : slash));
}

void CTree::AddOther(std::string_view path, std::string_view what)
{
    const size_t slash = path.rfind('/');
    if (slash != std::string_view::npos)
        m_others.push_back({Climb(slash == 0 ? 1 : slash), std::string(path.substr(slash + 1)), std::string(what)});
}

std::string CTree::PathOf(uint32_t folder) const
{
    std::vector<uint32_t> chain;
    for (uint32_t f = folder; f != kNone; f = m_folders[f].parent)
        chain.push_back(f);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin() && path != "/")
            path += '/';
        path += m_folders[*it].name;
    }
    return path;
}

namespace {

// Each folder of the tree with its files' names and contents, its sub-folders not yet added.
std::vector<CFolder> FoldersWithFiles(const CFillInput& files, const CTree& tree, const std::vector<CResultRow>& checked,
                                      CTokens& tokens, std::vector<std::string>& owned)
{
    // A file's token is its group of identical files; one that could not be read matches nothing.
    struct CContent {
        uint64_t token;
        uint64_t size;
    };
    std::unordered_map<std::string_view, CContent> contentOf;
    contentOf.reserve(checked.size());
    for (const CResultRow& r : checked)
        contentOf.emplace(r.Path(), CContent{r.opened ? uint64_t(r.group) : tokens.Alone(), r.sizeKey});

    // Parents come before their sub-folders in the walk's order.
    std::vector<CFolder> folders(tree.Folders().size());
    for (size_t i = 0; i < folders.size(); ++i) {
        const CTree::CFolder& t = tree.Folders()[i];
        folders[i].name = t.name;
        folders[i].parent = t.parent;
        folders[i].unread = t.unread;
        folders[i].depth = t.parent == CTree::kNone ? 0 : folders[t.parent].depth + 1;
    }
    // Entry names point into the paths: copied when the input does not keep them.
    const int count = files.count();
    if (!files.stable) {
        owned.reserve(size_t(count));
        for (int i = 0; i < count; ++i)
            owned.emplace_back(files.at(i));
    }
    for (int i = 0; i < count; ++i) {
        const uint32_t folder = tree.FileFolders()[size_t(i)];
        if (folder == CTree::kNone || folder >= folders.size())
            continue;
        const std::string_view path = files.stable ? files.at(i) : std::string_view(owned[size_t(i)]);
        const auto content = contentOf.find(path);
        CFolder& f = folders[folder];
        f.entries.push_back({NameOf(path), content == contentOf.end() ? tokens.Alone() : content->second.token, 'f'});
        f.files += 1;
        f.bytes += content == contentOf.end() ? 0 : content->second.size;
    }
    for (const CTree::COther& o : tree.Others()) {
        if (o.folder < folders.size())
            folders[o.folder].entries.push_back({o.name, tokens.OfOther(o.what), 'o'});
    }
    return folders;
}

// Gives every folder its token, deepest first, so each folder's sub-folders have theirs before it.
bool TokensBottomUp(std::vector<CFolder>& folders, CTokens& tokens, const std::atomic<bool>& stop)
{
    std::vector<uint32_t> order(folders.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = uint32_t(i);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return folders[a].depth > folders[b].depth; });
    for (const uint32_t id : order) {
        if (stop.load(std::memory_order_relaxed))
            return false;
        CFolder& f = folders[id];
        f.token = tokens.Of(f);
        f.entries = {};  // done with: memory goes back as the walk up goes on
        if (f.parent != CTree::kNone) {
            CFolder& parent = folders[f.parent];
            parent.entries.push_back({f.name, f.token, 'd'});
            parent.files += f.files;
            parent.bytes += f.bytes;
        }
    }
    return true;
}

// Folders of one shared token, holding files: the copies, largest first.
void ListCopies(const std::vector<CFolder>& folders, const CTree& tree, std::vector<CFolderRow>* rows)
{
    std::unordered_map<uint64_t, std::vector<uint32_t>> byToken;
    for (size_t i = 0; i < folders.size(); ++i) {
        if (!(folders[i].token & kAlone) && folders[i].files > 0)
            byToken[folders[i].token].push_back(uint32_t(i));
    }
    const auto copied = [&](uint32_t id) {
        const auto found = byToken.find(folders[id].token);
        return found != byToken.end() && found->second.size() > 1;
    };
    // A copy matched through its parent is the same copy again: members whose parents are copies of
    // each other, under one name, count once. A group is listed when two of its members are not that.
    using CMembers = std::vector<std::pair<std::string, uint32_t>>;  // path, folder
    std::vector<CMembers> listed;
    for (auto& [token, members] : byToken) {
        (void)token;
        if (members.size() < 2)
            continue;
        // Paths are made only for groups that will be listed: a deep chain of copies is one group, not thousands.
        std::set<std::pair<uint64_t, std::string_view>> keys;
        size_t classes = 0;
        for (const uint32_t m : members) {
            const CFolder& f = folders[m];
            classes += f.parent == CTree::kNone || !copied(f.parent) || keys.insert({folders[f.parent].token, f.name}).second ? 1 : 0;
        }
        if (classes < 2)
            continue;
        CMembers group;
        for (const uint32_t m : members)
            group.emplace_back(tree.PathOf(m), m);
        std::sort(group.begin(), group.end());
        std::set<std::pair<uint64_t, std::string_view>> seen;
        CMembers kept;
        for (auto& member : group) {
            const CFolder& f = folders[member.second];
            if (f.parent != CTree::kNone && copied(f.parent) && !seen.insert({folders[f.parent].token, f.name}).second)
                continue;
            kept.push_back(std::move(member));
        }
        if (kept.size() > 1)
            listed.push_back(std::move(kept));
    }
    std::sort(listed.begin(), listed.end(), [&](const CMembers& a, const CMembers& b) {
        const CFolder& x = folders[a.front().second];
        const CFolder& y = folders[b.front().second];
        return x.bytes != y.bytes ? x.bytes > y.bytes : a.front().first < b.front().first;
    });
    for (size_t g = 0; g < listed.size(); ++g) {
        for (const auto& [path, id] : listed[g])
            rows->push_back({path, folders[id].bytes, folders[id].files, int32_t(g)});
    }
}

}  // namespace

bool Group(const CFillInput& files, const CTree& tree, const std::vector<CResultRow>& checked,
           const std::atomic<bool>& stop, std::vector<CFolderRow>* rows)
{
    rows->clear();
    if (tree.FileFolders().size() != size_t(files.count()))
        return !stop.load(std::memory_order_relaxed);  // not the listing the tree was told of: nothing to say
    uint64_t groups = 0;
    for (const CResultRow& r : checked)
        groups = std::max(groups, uint64_t(r.group) + 1);
    CTokens tokens(groups);
    std::vector<std::string> owned;
    std::vector<CFolder> folders = FoldersWithFiles(files, tree, checked, tokens, owned);
    if (!TokensBottomUp(folders, tokens, stop))
        return false;
    ListCopies(folders, tree, rows);
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
