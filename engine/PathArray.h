#pragma once

#include <QString>

#include <memory>
#include <string_view>
#include <vector>

// Append-only list of native (byte-exact) paths. The text lives in large
// blocks and each entry costs one pointer, so a million paths stay compact
// and never move once added.
class CPathArray {
public:
    CPathArray() = default;
    CPathArray(const CPathArray&) = delete;
    CPathArray& operator=(const CPathArray&) = delete;
    CPathArray(CPathArray&&) = default;
    CPathArray& operator=(CPathArray&&) = default;

    void Add(std::string_view path);
    void RemoveAll();

    int GetSize() const { return static_cast<int>(m_index.size()); }
    bool IsEmpty() const { return m_index.empty(); }
    std::string_view At(int i) const { return m_index[static_cast<size_t>(i)]; }
    // The path as display text; a name that is not UTF-8 shows replacement characters.
    QString GetAt(int i) const;

private:
    static constexpr size_t kBlockSize = size_t(1) << 20;

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::unique_ptr<char[]>> m_bigBlocks;
    size_t m_blockUsed = kBlockSize;
    std::vector<const char*> m_index;
};
