#include "SpaceMap.h"

#include "ListingStatus.h"
#include "PathArray.h"
#include "SelectionRules.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace SpaceMapLayout;

namespace {

QByteArray WithoutTrailingSlash(QByteArray folder)
{
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    return folder.isEmpty() ? QByteArray("/") : folder;
}

// WCAG 2 contrast ratio.
double Contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The look's text or base colour that reads best on fill; black or white when neither reaches 4.5:1
// (one of those always does, by at least 4.58:1).
QColor TextOn(const QColor& fill, const QPalette& palette)
{
    const QColor text = palette.color(QPalette::Text), base = palette.color(QPalette::Base);
    const QColor best = Contrast(text, fill) >= Contrast(base, fill) ? text : base;
    if (Contrast(best, fill) >= 4.5)
        return best;
    return Contrast(Qt::black, fill) >= Contrast(Qt::white, fill) ? QColor(Qt::black) : QColor(Qt::white);
}

// Where a tile's label is written: its top strip, inside the frame.
QRectF LabelStrip(const CTile& tile, double labelHeight)
{
    return {tile.rect.left() + 4, tile.rect.top() + 2, tile.rect.width() - 8, labelHeight};
}

}  // namespace

CSpaceMap::CSpaceMap(QWidget* parent)
    : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Space Map"));
    setFocusPolicy(Qt::StrongFocus);  // arrows move between folders, Enter selects their rows
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Resizing by dragging sends many sizes: only the last one is laid out.
    m_relayout.setSingleShot(true);
    m_relayout.setInterval(40);
    connect(&m_relayout, &QTimer::timeout, this, &CSpaceMap::Relayout);
}

CSpaceMap::~CSpaceMap()
{
    // Joined before any member goes, so the worker never posts to a half-destroyed map.
    m_worker.StopAndJoin();
}

void CSpaceMap::SetRows(const std::vector<CResultRow>& rows, const std::vector<int32_t>& sameAs, const QByteArray& root)
{
    SetRows(rows, Flatten(rows, sameAs.size() == rows.size() ? sameAs : SelectionRules::SameFiles(rows), WithoutTrailingSlash(root)));
}

void CSpaceMap::SetRows(const std::vector<CResultRow>& rows, CFlatRows flat)
{
    m_rowItem = std::move(flat.rowItem);
    m_groupStart = std::move(flat.groupStart);
    m_itemSize = std::move(flat.sizes);
    m_itemSpare.clear();
    TakeChecks(rows);
    ++m_spareVersion;  // new rows: whatever was laid out before is of others

    m_waiting.clear();
    m_building = true;
    StartLayout(std::move(flat.input), nullptr, true);
}

bool CSpaceMap::TakeChecks(const std::vector<CResultRow>& rows)
{
    // As the figures line counts it: a file is freed when every listed name of it is checked.
    const size_t items = m_itemSize->size();
    m_itemChecked.assign(items, 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (m_rowItem[i] >= 0)
            m_itemChecked[size_t(m_rowItem[i])] &= char(rows[i].checked);
    }
    // Each group keeps its first file the checks leave (its first when they leave none): only the
    // others are spare, so what is checked lies in what is drawn.
    std::vector<char> spare(items, 1);
    for (size_t g = 0; g < m_groupStart.size(); ++g) {
        const size_t first = m_groupStart[g], end = g + 1 < m_groupStart.size() ? m_groupStart[g + 1] : items;
        size_t kept = first;
        while (kept < end && m_itemChecked[kept])
            ++kept;
        spare[kept < end ? kept : first] = 0;
    }
    if (spare == m_itemSpare)
        return false;
    m_itemSpare = std::move(spare);
    ++m_spareVersion;
    return true;
}

void CSpaceMap::UpdateChecks(const std::vector<CResultRow>& rows, const std::vector<int32_t>& sameAs)
{
    // The rows' files and links were taken at SetRows.
    Q_UNUSED(sameAs);
    if (rows.size() != m_rowItem.size() || !m_itemSize)
        return;
    const bool keptChanged = TakeChecks(rows);
    // While new rows are being added up, the map still shows the old ones; their arrival adds these up.
    if (m_building || !m_shown.tree)
        return;
    if (keptChanged)
        StartLayout(nullptr, m_shown.tree, true);
    SumChecks();
    update();
}

void CSpaceMap::SetWaiting(const QString& text)
{
    m_worker.StopAndJoin();
    ++m_generation;
    m_building = m_pending = false;
    m_rowItem.clear();
    m_itemSize.reset();
    m_shown = CShown();
    m_waiting = text;
    update();
}

void CSpaceMap::SelectFolder(const QByteArray& folder)
{
    m_selected = folder.isEmpty() ? QByteArray() : WithoutTrailingSlash(folder);
    update();
}

bool CSpaceMap::IsLaidOut() const
{
    return m_shown.tree && !m_pending;
}

QString CSpaceMap::Message() const
{
    if (!m_waiting.isEmpty())
        return m_waiting;
    if (!m_shown.tiles.empty() && TotalArea() > 0)
        return {};
    return m_building ? QStringLiteral("Adding up where the space is\u2026")
           : m_shown.tree ? QStringLiteral("No space to reclaim.") : QString();
}

uint64_t CSpaceMap::TotalArea() const
{
    return m_shown.tree ? m_shown.tree->folders[0].area : 0;
}

CSpaceMap::CFolderBytes CSpaceMap::BytesOf(const QByteArray& folder) const
{
    const QByteArray wanted = WithoutTrailingSlash(folder);
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        if (m_shown.paths[t] == wanted) {
            const int32_t id = m_shown.tiles[t].folder;
            return {m_shown.tree->folders[size_t(id)].area, m_folderChecked[size_t(id)]};
        }
    }
    return {};
}

std::vector<std::pair<QByteArray, QRectF>> CSpaceMap::Tiles() const
{
    const QPointF s = Scale();
    std::vector<std::pair<QByteArray, QRectF>> tiles;
    tiles.reserve(m_shown.tiles.size());
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        const QRectF& r = m_shown.tiles[t].rect;
        tiles.emplace_back(m_shown.paths[t], QRectF(r.x() * s.x(), r.y() * s.y(), r.width() * s.x(), r.height() * s.y()));
    }
    return tiles;
}

QSize CSpaceMap::sizeHint() const
{
    return {480, 320};
}

QSize CSpaceMap::minimumSizeHint() const
{
    return {160, 100};
}

void CSpaceMap::StartLayout(std::shared_ptr<CInput> input, std::shared_ptr<const CTree> tree, bool resum)
{
    const unsigned generation = ++m_generation;
    m_pending = true;
    m_relayout.stop();
    CParams params;
    params.size = QSizeF(size());
    params.labelHeight = fontMetrics().height() + 2;
    std::vector<char> spare = resum ? m_itemSpare : std::vector<char>();
    const unsigned spareVersion = resum ? m_spareVersion : m_shown.spareVersion;
    m_worker.Start([this, generation, input = std::move(input), tree = std::move(tree), sizes = m_itemSize,
                    spare = std::move(spare), spareVersion, params](const std::atomic<bool>& stop) mutable {
        CShown shown;
        if (!spare.empty() || input) {
            auto summed = std::make_shared<CTree>(input ? Build(*input, stop) : *tree);
            input.reset();
            tree.reset();
            if (stop.load() || !Sum(*summed, *sizes, spare, stop))
                return;
            shown.tree = std::move(summed);
        } else {
            shown.tree = std::move(tree);
        }
        if (stop.load())
            return;
        shown.tiles = LayOut(*shown.tree, params, stop);
        if (stop.load())
            return;
        shown.paths.reserve(shown.tiles.size());
        for (const CTile& tile : shown.tiles)
            shown.paths.push_back(shown.tree->Path(tile.folder));
        shown.size = params.size;
        shown.spareVersion = spareVersion;
        // Handed over under a lock, and the queued call carries nothing to destroy on this thread.
        {
            std::lock_guard<std::mutex> lock(m_readyLock);
            m_ready = std::move(shown);
            m_readyGeneration = generation;
        }
        QMetaObject::invokeMethod(this, [this] { TakeLaidOut(); }, Qt::QueuedConnection);
    });
}

void CSpaceMap::TakeLaidOut()
{
    CShown shown;
    unsigned generation = 0;
    {
        std::lock_guard<std::mutex> lock(m_readyLock);
        shown = std::move(m_ready);
        m_ready = CShown();
        generation = m_readyGeneration;
    }
    if (shown.tree)  // else an earlier call took it
        OnLaidOut(generation, std::move(shown));
}

void CSpaceMap::OnLaidOut(unsigned generation, CShown shown)
{
    if (generation != m_generation)
        return;  // newer rows or a newer size are on their way
    m_pending = false;
    m_building = false;
    m_shown = std::move(shown);
    SumChecks();
    update();
    // Checks that moved a kept copy, or a resize, while it was laid out: LaidOut comes with the next one.
    if (m_shown.spareVersion != m_spareVersion)
        StartLayout(nullptr, m_shown.tree, true);
    else if (m_shown.size != QSizeF(size()))
        Relayout();
    else
        emit LaidOut();
}

void CSpaceMap::Relayout()
{
    if (m_shown.tree && !m_building)
        StartLayout(nullptr, m_shown.tree, false);
}

void CSpaceMap::SumChecks()
{
    const CTree& tree = *m_shown.tree;
    m_folderChecked.assign(tree.folders.size(), 0);
    for (size_t i = 0; i < m_itemChecked.size() && i < tree.itemFolder.size(); ++i) {
        if (m_itemChecked[i])
            m_folderChecked[size_t(tree.itemFolder[i])] += (*m_itemSize)[i];
    }
    for (size_t id = tree.folders.size() - 1; id > 0; --id)
        m_folderChecked[size_t(tree.folders[id].parent)] += m_folderChecked[id];
    m_restChecked.resize(m_shown.tiles.size());
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        const CTile& tile = m_shown.tiles[t];
        m_restChecked[t] = m_folderChecked[size_t(tile.folder)];
        if (tile.parentTile >= 0)
            m_restChecked[size_t(tile.parentTile)] -= m_restChecked[t];
    }
}

QPointF CSpaceMap::Scale() const
{
    // Until a new size is laid out, the last layout is stretched to fit.
    if (m_shown.size.isEmpty())
        return {1, 1};
    return {width() / m_shown.size.width(), height() / m_shown.size.height()};
}

int CSpaceMap::TileAt(const QPointF& pos) const
{
    const QPointF s = Scale();
    const QPointF at(pos.x() / s.x(), pos.y() / s.y());
    // Sub-folders follow their parent, so the last tile holding the point is the deepest.
    int found = -1;
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        if (m_shown.tiles[t].rect.contains(at))
            found = int(t);
    }
    return found;
}

int CSpaceMap::SelectedTile() const
{
    if (m_selected.isEmpty())
        return -1;
    int found = -1;
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        const QByteArray& path = m_shown.paths[t];
        const bool holds = m_selected == path
                           || (m_selected.startsWith(path) && (path.endsWith('/') || m_selected.at(path.size()) == '/'));
        if (holds && (found < 0 || m_shown.tiles[t].depth > m_shown.tiles[size_t(found)].depth))
            found = int(t);
    }
    return found;
}

QColor CSpaceMap::TileColor(const CTile& tile) const
{
    // Hue by the byte-weighted size of the copies, 1 KiB (blue) to 1 GiB (red) on a log scale.
    const double typical = m_shown.tree->TypicalSize(tile.folder);
    const double warmth = std::clamp((std::log2(std::max(typical, 1.0)) - 10) / 20, 0.0, 1.0);
    const int depth = std::min(tile.depth, 6);
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    return QColor::fromHsv(int(240 * (1 - warmth)), dark ? 150 : 70 + 15 * depth, dark ? 90 + 14 * depth : 245 - 12 * depth);
}

QString CSpaceMap::ToolTipAt(const QPoint& pos) const
{
    const int t = TileAt(pos);
    if (t < 0)
        return {};
    const CTile& tile = m_shown.tiles[size_t(t)];
    const CFolder& folder = m_shown.tree->folders[size_t(tile.folder)];
    const QByteArray& path = m_shown.paths[size_t(t)];
    QStringList lines{
        EscapePath(std::string_view(path.constData(), size_t(path.size()))),
        QStringLiteral("Reclaimable: %1 in %2 duplicate file(s)").arg(ListingStatus::SizeText(folder.area)).arg(folder.spareFiles),
        QStringLiteral("Checked: %1").arg(ListingStatus::SizeText(m_folderChecked[size_t(tile.folder)])),
    };
    if (folder.area > 0)
        lines << QStringLiteral("Colour: its duplicates are about %1 each, by bytes (blue small, red large)")
                     .arg(ListingStatus::SizeText(quint64(m_shown.tree->TypicalSize(tile.folder))));
    return lines.join(QLatin1Char('\n'));
}

bool CSpaceMap::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = ToolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap), this);
        return true;
    }
    return QWidget::event(event);
}

void CSpaceMap::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.color(QPalette::Window));
    const QString message = Message();
    if (!message.isEmpty() || m_shown.tiles.empty()) {
        painter.setPen(pal.color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, message);
        return;
    }
    const QPointF s = Scale();
    painter.scale(s.x(), s.y());
    const QColor frame = pal.color(QPalette::Window);
    const double labelHeight = fontMetrics().height() + 2;
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        const CTile& tile = m_shown.tiles[t];
        const QColor fill = TileColor(tile);
        const QColor text = TextOn(fill, pal);
        painter.fillRect(tile.rect, fill);
        if (tile.restBytes > 0 && m_restChecked[t] > 0 && !tile.rest.isEmpty()) {
            // The checked share of what this tile shows of its own, hatched from the bottom up.
            const double share = std::min(1.0, double(m_restChecked[t]) / double(tile.restBytes));
            QRectF part = tile.rest;
            part.setTop(part.bottom() - part.height() * share);
            painter.fillRect(part, fill.darker(130));
            QColor hatch = text;
            hatch.setAlpha(120);
            painter.fillRect(part, QBrush(hatch, Qt::BDiagPattern));
        }
        painter.setPen(frame);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(tile.rect.adjusted(0.5, 0.5, -0.5, -0.5));
        if (tile.label) {
            const QRectF strip = LabelStrip(tile, labelHeight);
            painter.setPen(text);
            painter.drawText(strip, Qt::AlignLeft | Qt::AlignVCenter, LabelText(t, strip.width()));
        }
    }
    const int selected = SelectedTile();
    if (selected >= 0) {
        QPen pen(pal.color(QPalette::Highlight), 3);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.drawRect(m_shown.tiles[size_t(selected)].rect.adjusted(1.5, 1.5, -1.5, -1.5));
    }
}

QString CSpaceMap::LabelText(size_t t, double width) const
{
    // "name  size" when it fits, else the name alone, elided: a number is never cut.
    const CTile& tile = m_shown.tiles[t];
    const QByteArray name = tile.depth == 0 ? m_shown.paths[t] : m_shown.tree->Name(tile.folder);
    const QString text = EscapePath(std::string_view(name.constData(), size_t(name.size())));
    const QString whole = text + QStringLiteral("  ") + ListingStatus::SizeText(m_shown.tree->folders[size_t(tile.folder)].area);
    if (fontMetrics().horizontalAdvance(whole) <= width)
        return whole;
    return fontMetrics().elidedText(text, Qt::ElideMiddle, int(width));
}

std::vector<CSpaceMap::CLabel> CSpaceMap::Labels() const
{
    std::vector<CLabel> labels;
    if (!Message().isEmpty())
        return labels;
    const QPointF s = Scale();
    const double labelHeight = fontMetrics().height() + 2;
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        const CTile& tile = m_shown.tiles[t];
        if (!tile.label)
            continue;
        const QRectF strip = LabelStrip(tile, labelHeight);
        labels.push_back({m_shown.paths[t], QRectF(strip.x() * s.x(), strip.y() * s.y(), strip.width() * s.x(), strip.height() * s.y()),
                          LabelText(t, strip.width())});
    }
    return labels;
}

void CSpaceMap::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_shown.tree && !m_building) {
        m_pending = true;
        m_relayout.start();
    }
}

void CSpaceMap::mouseReleaseEvent(QMouseEvent* event)
{
    const int t = TileAt(event->position());
    if (event->button() != Qt::LeftButton || t < 0 || !rect().contains(event->position().toPoint()))
        return QWidget::mouseReleaseEvent(event);
    m_selected = m_shown.paths[size_t(t)];
    update();
    emit FolderClicked(m_selected);
}
