#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

// Append-only store of NUL-terminated byte strings in large blocks. A stored
// text never moves, so its pointer stays valid for the arena's lifetime and
// may be read by other threads while more is added.
class CTextArena {
public:
    CTextArena() = default;
    CTextArena(const CTextArena&) = delete;
    CTextArena& operator=(const CTextArena&) = delete;
    // A moved-from arena is empty and may be used again.
    CTextArena(CTextArena&& o) noexcept
        : m_blocks(std::move(o.m_blocks)), m_bigBlocks(std::move(o.m_bigBlocks)),
          m_blockUsed(std::exchange(o.m_blockUsed, kBlockSize))
    {
        o.m_blocks.clear();
        o.m_bigBlocks.clear();
    }
    CTextArena& operator=(CTextArena&& o) noexcept
    {
        m_blocks = std::move(o.m_blocks);
        m_bigBlocks = std::move(o.m_bigBlocks);
        m_blockUsed = std::exchange(o.m_blockUsed, kBlockSize);
        o.m_blocks.clear();
        o.m_bigBlocks.clear();
        return *this;
    }

    const char* Store(std::string_view text);
    void Clear();

private:
    static constexpr size_t kBlockSize = size_t(1) << 20;

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::unique_ptr<char[]>> m_bigBlocks;
    size_t m_blockUsed = kBlockSize;
};

// Append-only list of native (byte-exact) paths; each entry costs one pointer
// beyond its text, so a million paths stay compact. The index grows by blocks
// that double in size and never move: an entry may be read on another thread
// while later ones are added, once the count that covers it was handed over
// (a release store read with acquire).
class CPathArray {
public:
    CPathArray() = default;
    CPathArray(const CPathArray&) = delete;
    CPathArray& operator=(const CPathArray&) = delete;
    CPathArray(CPathArray&& o) noexcept
        : m_text(std::move(o.m_text)), m_blocks(std::move(o.m_blocks)), m_size(std::exchange(o.m_size, 0))
    {
    }
    CPathArray& operator=(CPathArray&& o) noexcept
    {
        m_text = std::move(o.m_text);
        m_blocks = std::move(o.m_blocks);
        m_size = std::exchange(o.m_size, 0);
        return *this;
    }

    void Add(std::string_view path);
    void RemoveAll();

    int GetSize() const { return m_size; }
    bool IsEmpty() const { return m_size == 0; }
    std::string_view At(int i) const { return Slot(i); }

private:
    static constexpr int kFirstBlockBits = 10;
    static constexpr int kBlocks = 32 - kFirstBlockBits;  // enough for any int index

    // Block b holds 2^(b + kFirstBlockBits) entries, from index 2^(b + kFirstBlockBits) - 2^kFirstBlockBits on.
    static int BlockOf(uint64_t shifted) { return 63 - __builtin_clzll(shifted) - kFirstBlockBits; }
    const char*& Slot(int i) const
    {
        const uint64_t shifted = uint64_t(i) + (uint64_t(1) << kFirstBlockBits);
        const int b = BlockOf(shifted);
        return m_blocks[size_t(b)][shifted - (uint64_t(1) << (b + kFirstBlockBits))];
    }

    CTextArena m_text;
    std::array<std::unique_ptr<const char*[]>, kBlocks> m_blocks;
    int m_size = 0;
};

// Display text of native bytes; a name that is not UTF-8 shows replacement characters.
QString DecodePath(std::string_view bytes);

// Text that names bytes exactly and stays on one line: valid UTF-8 as it is,
// a control character as \n, \t, \r or \xNN, and each byte of an invalid
// sequence as \xNN. With escapeBackslash a backslash is written \\, so the
// text can be turned back into the bytes; names shown to users leave it alone.
QString EscapePath(std::string_view bytes, bool escapeBackslash = false);
// Whether path lies strictly below folder (both without a trailing slash, "/" for the root).
inline bool IsPathBelow(std::string_view path, std::string_view folder)
{
    return folder == "/" ? path.size() > 1
                         : path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// name under folder, native bytes: "/" + name under the root, not "//" + name.
inline QByteArray JoinNative(const QByteArray& folder, const QByteArray& name)
{
    return (folder == "/" ? QByteArray() : folder) + "/" + name;
}
// The bytes EscapePath(…, true) wrote: \\, \n, \t, \r and \xNN turned back.
QByteArray UnescapePath(const QString& text);

// A native path as text that turns back into the same bytes: valid UTF-8 as
// it is, any other byte b as the lone surrogate U+DC00+b. For paths that go
// from the command line to the walk through text-only places.
QString DecodeNativeExact(std::string_view bytes);
// The bytes DecodeNativeExact was given; other text as UTF-8.
QByteArray EncodeNativeExact(const QString& text);
// Exact text (DecodeNativeExact) as users see it: bytes that are not UTF-8 escaped, as elsewhere.
QString ShownPath(const QString& exact);
