#pragma once

#include "Outcome.h"

#include "Trash.h"

#include <QString>

#include <vector>

// The last batch sent to the trash by either front end, kept in the XDG
// state folder so it can be put back after a restart.
namespace TrashBatch {

// Writes the record while the batch is moved, holding the batch lock (a file beside the record)
// from the first item to Finish, so a restore never runs meanwhile: the first item replaces the previous batch, each
// item is written before its move and marked once it happened, so an interrupted batch (even by
// kill -9) leaves a record of exactly what moved. A batch that moves nothing keeps the old record.
class CRecorder : public CTrashJournal {
public:
    CRecorder() = default;
    CRecorder(const CRecorder&) = delete;
    CRecorder& operator=(const CRecorder&) = delete;
    ~CRecorder() override;
    int WillMove(const CTrashedItem& item) override;
    void Done(bool moved) override;
    // Flushes the record to disk; false with the reason when any item could not be marked.
    bool Finish(QString* error);

private:
    int m_fd = -1;
    int m_lock = -1;  // the batch lock, held from the first item to Finish
    long long m_end = 0;   // where the next line goes
    long long m_line = -1;  // the line of the item being moved
    int m_err = 0;
};

struct CRestoreOutcome {
    QByteArray original;
    COutcome outcome = COutcome::Refused(QStringLiteral("not tried"));
    QByteArray besideAs;  // not restored over a changed file, but put back beside it under this path
    bool Restored() const { return outcome.IsDone(); }
    QString Reason() const { return outcome.Text(); }  // why it was not restored
};
struct CRestoreResult {
    std::vector<CRestoreOutcome> outcomes;
    QString recordError;  // the record could not be read or updated; empty when all went well
};
// Puts back each item of the last batch that is still in the trash (see PutBack: every field of
// the record is checked first) and marks it done in the record; the record goes once nothing is
// left. A record that is not a regular file of the user's own, in a folder of theirs, restores nothing.
CRestoreResult RestoreLast();

// The items of the last batch not yet put back; empty when there is none or it cannot be trusted.
std::vector<CTrashedItem> Last();

// The record file, for messages and tests.
QByteArray RecordFile();

}  // namespace TrashBatch
