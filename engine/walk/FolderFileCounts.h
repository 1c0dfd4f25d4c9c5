#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Folders met in one listing with their file counts. Each folder is kept as
// its name under its parent's entry, so the table grows with the number of
// folders and the length of their names, never with the square of the depth.
// Paths are split at every '/', so each exact path text has its own entry.
class CFolderFileCounts {
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    // The entry of a whole path, or of a name under a parent entry, made when missing.
    uint32_t Find(std::string_view path);
    uint32_t Child(uint32_t parent, std::string_view name);
    // kNone when there is no entry.
    uint32_t Lookup(std::string_view path) const;
    uint32_t Parent(uint32_t id) const { return m_nodes[id].parent; }
    // Met: walked, or given a count. Entries made only as ancestors are not.
    bool IsMet(uint32_t id) const { return m_nodes[id].met; }
    void SetMet(uint32_t id);
    int& Count(uint32_t id) { return m_nodes[id].count; }
    int Count(uint32_t id) const { return m_nodes[id].count; }
    // How many folders were met.
    size_t size() const { return m_met; }
    void clear();

private:
    struct Node {
        uint32_t parent;
        int count;
        bool met;
    };
    // step(parent, name) for each component of path, left to right.
    template <typename Step>
    static uint32_t EachComponent(std::string_view path, Step step);
    static std::string Key(uint32_t parent, std::string_view name);

    std::vector<Node> m_nodes;
    std::unordered_map<std::string, uint32_t> m_index;  // Key(parent, name) -> id
    size_t m_met = 0;
};
