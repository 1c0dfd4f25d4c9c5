// Moving through the picture from the keyboard: arrows go to the nearest folder of the same depth
// that way, Backspace to the folder holding it, Enter (or Space) selects its rows as a click does.
#include "SpaceMap.h"

#include <QKeyEvent>

#include <algorithm>
#include <cmath>
#include <limits>

int CSpaceMap::Neighbour(int from, int key) const
{
    if (m_shown.tiles.empty())
        return -1;
    if (from < 0)
        return 0;
    const QRectF here = m_shown.tiles[size_t(from)].rect;
    const bool across = key == Qt::Key_Left || key == Qt::Key_Right;
    int best = from;
    double bestCost = std::numeric_limits<double>::infinity();
    for (size_t t = 0; t < m_shown.tiles.size(); ++t) {
        const QRectF there = m_shown.tiles[t].rect;
        if (int(t) == from || m_shown.tiles[t].depth != m_shown.tiles[size_t(from)].depth)
            continue;
        // Only a tile wholly beyond this one's edge that way (neighbours share an edge).
        const double gap = key == Qt::Key_Left    ? here.left() - there.right()
                           : key == Qt::Key_Right ? there.left() - here.right()
                           : key == Qt::Key_Up    ? here.top() - there.bottom()
                                                  : there.top() - here.bottom();
        if (gap < -0.5)
            continue;
        // Straight on (within this one's span) is nearer than off to the side; ties go to the best lined up.
        const double aside = across ? std::max({0.0, there.top() - here.bottom(), here.top() - there.bottom()})
                                    : std::max({0.0, there.left() - here.right(), here.left() - there.right()});
        const QPointF d = there.center() - here.center();
        const double cost = gap + 2 * aside + 0.01 * std::abs(across ? d.y() : d.x());
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
