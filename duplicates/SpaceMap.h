#pragma once

#include "ResultRow.h"
#include "SpaceMapLayout.h"
#include "WorkerThread.h"

#include <QByteArray>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Where the reclaimable space of the results lives: a treemap of folders, each
// as large as the spare copies in it and below (every distinct file but the one
// its group keeps: the first the checks leave, else the first), the checked part
// hatched, coloured by the byte-weighted size of those copies (small cool, large warm).
// The folders are added up and laid out on a worker; the UI thread only takes
// the checks out of the rows.
class CSpaceMap : public QWidget {
    Q_OBJECT
public:
    explicit CSpaceMap(QWidget* parent = nullptr);
    ~CSpaceMap() override;

    // rows below root, sameAs as SelectionRules::SameFiles gives it (worked out here
    // when it does not match rows). Nothing is kept of rows once this returns.
    void SetRows(const std::vector<CResultRow>& rows, const std::vector<int32_t>& sameAs, const QByteArray& root);
    // The same with the rows' flat copy made elsewhere (SpaceMapLayout::Flatten), as a fill's worker does.
    void SetRows(const std::vector<CResultRow>& rows, SpaceMapLayout::CFlatRows flat);
    // The same rows with other checks; the areas follow when the copies kept change.
    void UpdateChecks(const std::vector<CResultRow>& rows, const std::vector<int32_t>& sameAs);
    // No rows until the next SetRows: text says what is awaited.
    void SetWaiting(const QString& text);
    // Frames that folder's tile, or the drawn folder it lies in; empty for none.
    void SelectFolder(const QByteArray& folder);

    // The last rows' layout has arrived, for this size.
    bool IsLaidOut() const;
    // Bytes of the whole map: the figures line's reclaimable bytes.
    uint64_t TotalArea() const;
    struct CFolderBytes {
        uint64_t area = 0;     // spare bytes
        uint64_t checked = 0;  // what trashing the checked rows frees, as the figures line counts it
    };
    // Of a folder with a tile (zeros for one without), in it and below.
    CFolderBytes BytesOf(const QByteArray& folder) const;
    // Each drawn folder and its rectangle in widget coordinates, parents first.
    std::vector<std::pair<QByteArray, QRectF>> Tiles() const;
    // The tooltip's text for the tile at pos (empty over none).
    QString ToolTipAt(const QPoint& pos) const;
    // What is shown in place of tiles (empty while they are).
    QString Message() const;
    struct CLabel {
        QByteArray folder;
        QRectF strip;  // widget coordinates
        QString text;
    };
    std::vector<CLabel> Labels() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void FolderClicked(const QByteArray& folder);
    void LaidOut();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct CShown {
        std::shared_ptr<const SpaceMapLayout::CTree> tree;
        std::vector<SpaceMapLayout::CTile> tiles;
        std::vector<QByteArray> paths;  // per tile
        QSizeF size;                    // what the tiles were laid out for
        unsigned spareVersion = 0;      // the spare flags tree was added up with
    };
    // Builds the tree from input, or adds tree up again with resum, or only lays it out.
    void StartLayout(std::shared_ptr<SpaceMapLayout::CInput> input, std::shared_ptr<const SpaceMapLayout::CTree> tree,
                     bool resum);
    // Takes the rows' checks: which files they free, and the copy each group keeps. True when that changed.
    bool TakeChecks(const std::vector<CResultRow>& rows);
    void TakeLaidOut();
    void OnLaidOut(unsigned generation, CShown shown);
    void Relayout();
    void SumChecks();
    int TileAt(const QPointF& pos) const;
    // The nearest tile of from's depth in the arrow key's direction; from itself when there is none.
    int Neighbour(int from, int key) const;
    int SelectedTile() const;
    QPointF Scale() const;
    QColor TileColor(const SpaceMapLayout::CTile& tile) const;
    QString LabelText(size_t tile, double width) const;

    CWorkerThread m_worker;
    std::mutex m_readyLock;  // the worker's last layout, waiting for the UI thread
    CShown m_ready;
    unsigned m_readyGeneration = 0;
    unsigned m_generation = 0;
    bool m_building = false;  // rows whose tree has not arrived yet
    bool m_pending = false;   // any layout not arrived yet
    QTimer m_relayout;

    // Of the last rows: each row's distinct file (-1 unopened), their sizes, where each group's
    // files start, which files the checks free, and which are spare.
    std::vector<int32_t> m_rowItem;
    std::shared_ptr<const std::vector<uint64_t>> m_itemSize;
    std::vector<uint32_t> m_groupStart;
    std::vector<char> m_itemChecked;
    std::vector<char> m_itemSpare;
    unsigned m_spareVersion = 0;
    QString m_waiting;

    CShown m_shown;
    std::vector<uint64_t> m_folderChecked;  // per folder of the shown tree, with its sub-folders
    std::vector<uint64_t> m_restChecked;    // per tile: what its rest holds of that
    QByteArray m_selected;
};
