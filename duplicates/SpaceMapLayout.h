#pragma once

#include "ResultRow.h"

#include <QByteArray>
#include <QRectF>
#include <QSizeF>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The space map's work off the UI thread: the folders that hold the spare
// copies, added up, and their squarified treemap.
namespace SpaceMapLayout {

// What the UI thread copies from the rows, per distinct file (a row that is not another row's
// hard link): its folder's bytes only; sizes and spare flags are given to Sum.
struct CInput {
    QByteArray root;                     // no trailing slash, "/" for the root
    std::vector<uint32_t> folderLength;  // per item: its folder's bytes, next in folders
    std::string folders;                 // each item's folder, without its trailing slash, one after the other
};

struct CFolder {
    int32_t parent = -1;        // a parent comes before its sub-folders
    uint32_t nameLength = 0;
    size_t nameOffset = 0;      // in CTree::names; the root's (and a stray folder's) name is its whole path
    uint64_t area = 0;          // spare bytes in it and below
    double logWeight = 0;       // sum of size x log2(size) over those bytes, for the colour
    int64_t spareFiles = 0;
    uint32_t firstChild = 0;    // in CTree::children: sub-folders with spare bytes, largest first
    uint32_t childCount = 0;
};

struct CTree {
    std::vector<CFolder> folders;  // [0] is the root
    std::vector<int32_t> children;
    std::vector<int32_t> itemFolder;  // per item
    std::string names;

    QByteArray Path(int32_t folder) const;
    QByteArray Name(int32_t folder) const;
    // Bytes of a typical spare copy, weighted by bytes (0 when there are none).
    double TypicalSize(int32_t folder) const;
};

// The folders and where each item lies, nothing added up yet; empty (no folders) when stopped.
CTree Build(const CInput& input, const std::atomic<bool>& stop);

// What the map takes of a set of rows, made on any thread that owns them: each row's distinct
// file (-1 unopened), their folders and sizes, and where each group's files start.
struct CFlatRows {
    std::shared_ptr<CInput> input;
    std::shared_ptr<const std::vector<uint64_t>> sizes;
    std::vector<int32_t> rowItem;
    std::vector<uint32_t> groupStart;
};
// sameAs as SelectionRules::SameFiles gives it for rows; root is the folder all rows lie below.
CFlatRows Flatten(const std::vector<CResultRow>& rows, const std::vector<int32_t>& sameAs, const QByteArray& root);
// The deepest folder every row lies in, without a trailing slash ("/" for the root; empty for no rows).
QByteArray CommonFolder(const std::vector<CResultRow>& rows);
// Adds each spare item's size (spare: not the copy its group keeps) up into tree's folders, in place
// of what was there; false when stopped.
bool Sum(CTree& tree, const std::vector<uint64_t>& size, const std::vector<char>& spare, const std::atomic<bool>& stop);

struct CTile {
    QRectF rect;
    QRectF rest;            // what its drawn sub-folders leave: its own files and folders too small to draw
    uint64_t restBytes = 0;
    int32_t folder = 0;
    int32_t parentTile = -1;
    int32_t depth = 0;
    bool label = false;     // the top strip holds its name
};

struct CParams {
    QSizeF size;
    double labelHeight = 14;
    double minSide = 4;     // no tile thinner than this
};

// Tiles in drawing order, parents before their sub-folders; empty when stopped or the tree is.
std::vector<CTile> LayOut(const CTree& tree, const CParams& params, const std::atomic<bool>& stop);

}  // namespace SpaceMapLayout
