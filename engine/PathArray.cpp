#include "PathArray.h"

#include <QFile>

#include <cstring>

const char* CTextArena::Store(std::string_view text)
{
    const size_t need = text.size() + 1;
    char* dest;
    if (need > kBlockSize) {
        // A text longer than a block gets a block of its own; the current block stays open.
        m_bigBlocks.push_back(std::make_unique<char[]>(need));
        dest = m_bigBlocks.back().get();
    } else {
        if (kBlockSize - m_blockUsed < need) {
            m_blocks.push_back(std::make_unique<char[]>(kBlockSize));
            m_blockUsed = 0;
        }
        dest = m_blocks.back().get() + m_blockUsed;
        m_blockUsed += need;
    }
    std::memcpy(dest, text.data(), text.size());
    dest[text.size()] = '\0';
    return dest;
}

void CTextArena::Clear()
{
    std::vector<std::unique_ptr<char[]>>().swap(m_blocks);
    std::vector<std::unique_ptr<char[]>>().swap(m_bigBlocks);
    m_blockUsed = kBlockSize;
}

void CPathArray::RemoveAll()
{
    std::vector<const char*>().swap(m_index);
    m_text.Clear();
}

QString DecodePath(std::string_view bytes)
{
    return QFile::decodeName(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
}
