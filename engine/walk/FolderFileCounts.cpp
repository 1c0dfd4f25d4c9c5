#include "FolderFileCounts.h"

std::string CFolderFileCounts::Key(uint32_t parent, std::string_view name)
{
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    return key.append(name);
}

template <typename Step>
uint32_t CFolderFileCounts::EachComponent(std::string_view path, Step step)
{
    uint32_t id = kNone;
    for (size_t start = 0;;) {
        const size_t slash = path.find('/', start);
        id = step(id, path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (id == kNone || slash == std::string_view::npos)
            return id;
        start = slash + 1;
    }
}

uint32_t CFolderFileCounts::Find(std::string_view path)
{
    return EachComponent(path, [this](uint32_t parent, std::string_view name) { return Child(parent, name); });
}

uint32_t CFolderFileCounts::Lookup(std::string_view path) const
{
    return EachComponent(path, [this](uint32_t parent, std::string_view name) {
        const auto it = m_index.find(Key(parent, name));
        return it == m_index.end() ? kNone : it->second;
    });
}

uint32_t CFolderFileCounts::Child(uint32_t parent, std::string_view name)
{
    const auto [it, inserted] = m_index.try_emplace(Key(parent, name), static_cast<uint32_t>(m_nodes.size()));
    if (inserted)
        m_nodes.push_back({parent, 0, false});
    return it->second;
}

void CFolderFileCounts::SetMet(uint32_t id)
{
    if (!m_nodes[id].met) {
        m_nodes[id].met = true;
        ++m_met;
    }
}

void CFolderFileCounts::clear()
{
    std::vector<Node>().swap(m_nodes);
    std::unordered_map<std::string, uint32_t>().swap(m_index);
    m_met = 0;
}
