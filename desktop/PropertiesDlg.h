#pragma once

#include <QByteArray>
#include <QDialog>

#include "WorkerThread.h"

// Our own properties window, used when the file manager offers none.
class CPropertiesDlg : public QDialog {
    Q_OBJECT
public:
    CPropertiesDlg(QWidget* parent, const QByteArray& path);

    struct CFolderTotal {
        uint64_t bytes = 0;
        qlonglong files = 0;
        bool unreadable = false;
    };
    // Regular files below path on its own file system, links not followed.
    static CFolderTotal CountFolder(const QByteArray& path, const std::atomic<bool>& stop);

private:
    CWorkerThread m_counter;  // declared last: joined before the labels go
};
