#include "ListingStatus.h"

#include "AppHelper.h"

namespace ListingStatus {

QString StartedText(const QString& folder, const COleDateTime& started)
{
    // One multi-argument arg(): a '%' in the folder stays as it is.
    return QStringLiteral("File Listing for Folder %1, Started At %2").arg(folder, FormatTime(started));
}

CSummary Finished(const CWalkResult& walk, int foldersWithFiles, int fileCount)
{
    CSummary s;
    const QString started = FormatTime(walk.m_dtStart);
    const QString stopped = FormatTime(walk.m_dtEnd);
    s.infoBarText = QStringLiteral("File Listing Started At %1 , Stopped At %2. Parsed %3 Folder(s). ")
                        .arg(started, stopped, QString::number(walk.m_nFoldersParsed));
    s.rows << QStringLiteral("File Listing Stopped At %1.").arg(stopped)
           << QStringLiteral("%1 Folder(s) Parsed. ").arg(walk.m_nFoldersParsed);
    auto both = [&s](const QString& text) {
        s.infoBarText += text;
        s.rows << text;
    };
    if (walk.m_nFoldersIgnored > 0)
        both(QStringLiteral("%1 Folder(s) Ignored. ").arg(walk.m_nFoldersIgnored));
    const int unread = int(walk.m_arrUnreadFolders.size());
    if (unread > 0)
        both(QStringLiteral("%1 Folder(s) Could Not Be Read. ").arg(unread));
    if (foldersWithFiles >= 0) {
        const int empty = walk.m_nFoldersParsed - unread - foldersWithFiles;
        if (empty > 0)
            both(QStringLiteral("%1 Folder(s) Do Not Contain Files. ").arg(empty));
    }
    // Said whenever a filter is on, even of no file: the list is then not all the folder holds.
    if (walk.m_bFiltered) {
        const QString filtered = QStringLiteral("%1 File(s) Skipped by Filters.").arg(walk.m_nFilesFiltered);
        s.infoBarText += filtered + QLatin1Char(' ');
        s.rows << filtered;
    }
    s.filesLine = QStringLiteral("%1 File(s) in File List.").arg(fileCount);
    s.rows << s.filesLine;
    const QString took = FormatDuration(walk.m_dtEnd - walk.m_dtStart);
    if (!took.isEmpty())
        both(QStringLiteral("It Took Aound %1.").arg(took));
    return s;
}

QString SizeText(quint64 bytes, const QLocale& locale)
{
    return locale.formattedDataSize(qint64(bytes), 1, QLocale::DataSizeIecFormat);
}

}  // namespace ListingStatus
