#include "PathArray.h"

#include <QFile>

#include <cstring>

void CPathArray::Add(std::string_view path)
{
    const size_t need = path.size() + 1;
    char* dest;
    if (need > kBlockSize) {
        // A path longer than a block gets a block of its own; the current block stays open.
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
    std::memcpy(dest, path.data(), path.size());
    dest[path.size()] = '\0';
    m_index.push_back(dest);
}

void CPathArray::RemoveAll()
{
    std::vector<const char*>().swap(m_index);
    std::vector<std::unique_ptr<char[]>>().swap(m_blocks);
    std::vector<std::unique_ptr<char[]>>().swap(m_bigBlocks);
    m_blockUsed = kBlockSize;
}

QString CPathArray::GetAt(int i) const
{
    const std::string_view p = At(i);
    return QFile::decodeName(QByteArray::fromRawData(p.data(), static_cast<qsizetype>(p.size())));
}
