// Moving through the picture from the keyboard: arrows go to the nearest folder of the same depth
// that way, Backspace to the folder holding it, Enter (or Space) selects its rows as a click does.
#include "SpaceMap.h"

#include <QKeyEvent>

#include <cmath>
#include <limits>

int CSpaceMap::Neighbour(int from, int key) const
{
    if (m_shown.tiles.empty())
        return -1;
    if (from < 0)
        return 0;
    const QPointF here = m_shown.tiles[size_t(from)].rect.center();
    int best = from;
    double bestCost = std::numeric_limits<double>::infinity();
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        if (int(t) == from || m_shown.tiles[t].depth != m_shown.tiles[size_t(from)].depth)
            continue;
        const QPointF d = m_shown.tiles[t].rect.center() - here;
        const bool across = key == Qt::Key_Left || key == Qt::Key_Right;
        const double along = key == Qt::Key_Left ? -d.x() : key == Qt::Key_Right ? d.x() : key == Qt::Key_Up ? -d.y() : d.y();
        if (along <= 0.5)
            continue;
        // Straight on is nearer than off to the side.
        const double cost = along + 2 * std::abs(across ? d.y() : d.x());
        if (cost < bestCost) {
            bestCost = cost;
            best = int(t);
        }
    }
    return best;
}

void CSpaceMap::keyPressEvent(QKeyEvent* event)
{
    const int current = SelectedTile();
    int next = -2;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        next = Neighbour(current, event->key());
        break;
    case Qt::Key_Backspace:
        next = current >= 0 ? m_shown.tiles[size_t(current)].parentTile : -1;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (current >= 0)
            emit FolderClicked(m_shown.paths[size_t(current)]);
        return;
    default:
        return QWidget::keyPressEvent(event);
    }
    if (next >= 0) {
        m_selected = m_shown.paths[size_t(next)];
        update();
    }
}
