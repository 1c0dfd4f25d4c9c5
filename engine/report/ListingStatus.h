#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

class COleDateTime;
struct CWalkResult;

// The texts of a listing's status, shared by every front end.
namespace ListingStatus {

// "File Listing for Folder %s, Started At %s"
QString StartedText(const QString& folder, const COleDateTime& started);

struct CSummary {
    QString infoBarText;   // the one-line summary
    QStringList rows;      // the status rows after the started row, in order
    QString filesLine;     // "%d File(s) in File List."
};

// foldersWithFiles: folders that had at least one listed file, or -1 when the
// run kept no per-folder counts.
CSummary Finished(const CWalkResult& walk, int foldersWithFiles, int fileCount);

// A byte count as every figure shows it: binary units, one decimal ("1.5 MiB").
QString SizeText(quint64 bytes, const QLocale& locale = QLocale());

}  // namespace ListingStatus
