#pragma once

#include "Outcome.h"

#include "Entry.h"
#include "Trash.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>

// Replacing a copy by a link to the file it equals, so its space comes back and its path stays.
namespace Link {

enum class EKind {
    kClone,  // the kernel compares and shares the blocks; inode, owner, mode, times and xattrs stay
    kHard,   // the name becomes a hard link to the kept file; the copy goes to the trash, for Undo
};

// Both resolved once, when the batch starts (ResolveEntry); every step then goes through their
// folders opened without following links and checked to be the folders resolved.
struct CRequest {
    CEntry keep;
    CEntry copy;
};

enum class ERefusal {
    kNone,
    kNotRegular,
    kSameFile,
    kOtherFileSystem,
    kDiffers,
    kChanged,
    kCannotClone,  // the file system cannot share blocks: a hard link could still be made
    kStopped,
    kOther,
};

// A link's outcome: the action's own (done, refused, failed with an errno), with what kind of
// refusal it was and, when done, what it frees and where a replaced copy went.
struct CResult {
    COutcome outcome = COutcome::Refused(QStringLiteral("not tried"));
    ERefusal refusal = ERefusal::kOther;
    uint64_t size = 0;  // what the link frees: the copy's size, or 0 when other names keep it
    CTrashedItem trashed;  // the hard kind: where the replaced copy went
    bool Linked() const { return outcome.IsDone(); }
    QString Reason() const { return outcome.Text(); }
    static CResult Done()
    {
        CResult r;
        r.refusal = ERefusal::kNone;
        r.outcome = COutcome::Done();
        return r;
    }
    // Not linked, with reason; a failure of the system when error is set.
    static CResult Refused(ERefusal why, const QString& reason, int error = 0)
    {
        CResult r;
        r.refusal = why;
        r.outcome = error ? COutcome::Failed(error, reason) : COutcome::Refused(reason);
        return r;
    }
};

// Seams for tests: step is called by name at the points a test may change the files ("linked": the
// hard link made, before it takes the copy's name; "share": before each range is shared), and
// dedupe, when set, stands in for the FIDEDUPERANGE call on (fd, range).
struct CTestSeams {
    void (*step)(const char* name) = nullptr;
    int (*dedupe)(int fd, void* range) = nullptr;
};
void SetTestSeams(const CTestSeams& seams);

// Makes request.copy share request.keep's data. Both must be regular files (links not followed) on
// one file system, still the identities given, of equal bytes, not already one file. The clone
// kind changes nothing a program can see but free space. The hard kind compares the bytes itself,
// makes the link under a temporary name in the copy's folder, swaps it with the copy in one step
// (the path never goes missing) and trashes the copy through journal, so Undo puts it back.
CResult Replace(const CRequest& request, EKind kind, const std::atomic<bool>& stop, CTrashJournal* journal);

}  // namespace Link
