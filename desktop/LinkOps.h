#pragma once

#include "ProtectedFolders.h"
#include "Trash.h"

#include <QObject>
#include <QStringList>

#include <vector>

class QWidget;

// Replacing copies by links from a window, and the protected folders both windows keep.
namespace LinkOps {

struct CItem {
    QByteArray copy;
    CFileIdentity copyId;  // as listed
    QByteArray keep;
    CFileIdentity keepId;
};

struct CReport {
    int linked = 0;
    int hardLinked = 0;
    uint64_t freed = 0;     // the copies' sizes
    uint64_t freedLater = 0;  // the part of freed whose copies wait in the trash (hard links)
    QStringList refused;    // "path: reason", escaped
    bool stopped = false;
    QString recordError;    // the Undo record of the hard links is incomplete
};

// Shares each copy's blocks with its kept file; with allowHard, where the file system cannot, a
// hard link takes the copy's name and the copy goes to the trash as one batch (Undo puts it back).
// Runs off the UI thread (RunBatch) behind a progress dialog whose Stop ends it between files and inside a compare.
CReport Run(QWidget* parent, const std::vector<CItem>& items, bool allowHard);

// The stored protected folders; a write that fails is said by the settings' own failure notice.
CProtectedFolders ReadProtected();
// A write that took is told by ProtectedNotice, so every window's marks follow it.
bool WriteProtected(const CProtectedFolders& folders);

class CProtectedNotice : public QObject {
    Q_OBJECT
signals:
    void Changed();
};
CProtectedNotice& ProtectedNotice();

// The tooltip of a protected item ("Protected: …"), or empty. With holding, a folder that holds a
// protected one counts too: trashing it would take that one along.
QString ProtectedTip(const CProtectedFolders& folders, std::string_view path, bool holding);

}  // namespace LinkOps
