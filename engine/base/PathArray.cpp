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

void CPathArray::Add(std::string_view path)
{
    const uint64_t shifted = uint64_t(m_size) + (uint64_t(1) << kFirstBlockBits);
    std::unique_ptr<const char*[]>& block = m_blocks[size_t(BlockOf(shifted))];
    if (!block)
        block.reset(new const char*[size_t(1) << (BlockOf(shifted) + kFirstBlockBits)]);  // left untouched until used
    Slot(m_size) = m_text.Store(path);
    ++m_size;
}

void CPathArray::RemoveAll()
{
    for (auto& block : m_blocks)
        block.reset();
    m_size = 0;
    m_text.Clear();
}

QString DecodePath(std::string_view bytes)
{
    return QFile::decodeName(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

namespace {
// Length of the valid UTF-8 sequence at s[i] (no overlongs, surrogates or
// values past U+10FFFF), or 0.
size_t Utf8Length(std::string_view s, size_t i)
{
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size() || (n == 2 && c < 0xC2) || (c == 0xF4 && b(i + 1) > 0x8F) || c > 0xF4)
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
    }
    if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xED && b(i + 1) > 0x9F) || (c == 0xF0 && b(i + 1) < 0x90))
        return 0;
    return n;
}
}  // namespace

QString EscapePath(std::string_view bytes, bool escapeBackslash)
{
    static const char kHex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const size_t n = Utf8Length(bytes, i);
        // C1 controls (U+0080..U+009F) are escaped byte by byte like the others.
        const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
        if (n > 1 && !c1) {
            out += QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(n));
            i += n;
            continue;
        }
        if (c1) {
            for (size_t k = 0; k < 2; ++k) {
                const unsigned char b = static_cast<unsigned char>(bytes[i + k]);
                out += QLatin1String("\\x") + QLatin1Char(kHex[b >> 4]) + QLatin1Char(kHex[b & 0xF]);
            }
            i += 2;
            continue;
        }
        if (n == 1 && c >= 0x20 && c != 0x7F) {
            if (c == '\\' && escapeBackslash)
                out += QLatin1String("\\\\");
            else
                out += QLatin1Char(char(c));
        } else if (c == '\n') {
            out += QLatin1String("\\n");
        } else if (c == '\t') {
            out += QLatin1String("\\t");
        } else if (c == '\r') {
            out += QLatin1String("\\r");
        } else {
            out += QLatin1String("\\x") + QLatin1Char(kHex[c >> 4]) + QLatin1Char(kHex[c & 0xF]);
        }
        ++i;
    }
    return out;
}

QByteArray UnescapePath(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c != '\\' || i + 1 >= utf8.size()) {
            out += c;
            continue;
        }
        const char e = utf8[++i];
        if (e == 'n')
            out += '\n';
        else if (e == 't')
            out += '\t';
        else if (e == 'r')
            out += '\r';
        else if (e == 'x' && i + 2 < utf8.size()) {
            out += char(QByteArray::fromHex(utf8.mid(i + 1, 2)).at(0));
            i += 2;
        } else
            out += e;
    }
    return out;
}

QString DecodeNativeExact(std::string_view bytes)
{
    QString out;
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = Utf8Length(bytes, i);
        if (n > 0) {
            out += QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(n));
            i += n;
        } else {
            out += QChar(char16_t(0xDC00 + static_cast<unsigned char>(bytes[i])));
            ++i;
        }
    }
    return out;
}

QByteArray EncodeNativeExact(const QString& text)
{
    QByteArray out;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool escaped = i < text.size() && text[i].unicode() >= 0xDC80 && text[i].unicode() <= 0xDCFF
            && !(i > 0 && text[i - 1].isHighSurrogate());
        if (i < text.size() && !escaped)
            continue;
        out += QStringView(text).mid(start, i - start).toUtf8();
        if (escaped)
            out += char(text[i].unicode() - 0xDC00);
        start = i + 1;
    }
    return out;
}

QString ShownPath(const QString& exact)
{
    const QByteArray bytes = EncodeNativeExact(exact);
    return EscapePath(std::string_view(bytes.constData(), size_t(bytes.size())));
}
