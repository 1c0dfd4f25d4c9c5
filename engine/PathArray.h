#pragma once

#include <QString>

#include <memory>
#include <string_view>
#include <vector>

// Append-only store of NUL-terminated byte strings in large blocks. A stored
// text never moves, so its pointer stays valid for the arena's lifetime and
// may be read by other threads while more is added.
class CTextArena {
public:
    CTextArena() = default;
    CTextArena(const CTextArena&) = delete;
    CTextArena& operator=(const CTextArena&) = delete;
    CTextArena(CTextArena&&) = default;
    CTextArena& operator=(CTextArena&&) = default;

    const char* Store(std::string_view text);
    void Clear();

private:
    static constexpr size_t kBlockSize = size_t(1) << 20;

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::unique_ptr<char[]>> m_bigBlocks;
    size_t m_blockUsed = kBlockSize;
};

// Append-only list of native (byte-exact) paths; each entry costs one pointer
// beyond its text, so a million paths stay compact.
class CPathArray {
public:
    CPathArray() = default;
    CPathArray(const CPathArray&) = delete;
    CPathArray& operator=(const CPathArray&) = delete;
    CPathArray(CPathArray&&) = default;
    CPathArray& operator=(CPathArray&&) = default;

    void Add(std::string_view path) { m_index.push_back(m_text.Store(path)); }
    void RemoveAll();

    int GetSize() const { return static_cast<int>(m_index.size()); }
    bool IsEmpty() const { return m_index.empty(); }
    std::string_view At(int i) const { return m_index[static_cast<size_t>(i)]; }

private:
    CTextArena m_text;
    std::vector<const char*> m_index;
};

// Display text of native bytes; a name that is not UTF-8 shows replacement characters.
QString DecodePath(std::string_view bytes);

// Text that names bytes exactly and stays on one line: valid UTF-8 as it is,
// a control character as \n, \t, \r or \xNN, and each byte of an invalid
// sequence as \xNN. With escapeBackslash a backslash is written \\, so the
// text can be turned back into the bytes; names shown to users leave it alone.
QString EscapePath(std::string_view bytes, bool escapeBackslash = false);
// The bytes EscapePath(…, true) wrote: \\, \n, \t, \r and \xNN turned back.
QByteArray UnescapePath(const QString& text);

// A native path as text that turns back into the same bytes: valid UTF-8 as
// it is, any other byte b as the lone surrogate U+DC00+b. For paths that go
// from the command line to the walk through text-only places.
QString DecodeNativeExact(std::string_view bytes);
// The bytes DecodeNativeExact was given; other text as UTF-8.
QByteArray EncodeNativeExact(const QString& text);
