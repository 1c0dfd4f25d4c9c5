#pragma once

#include <QString>

#include <cstdint>
#include <cstring>

// What an action on the user's files or settings came to: done, refused (a rule said no, and why),
// or failed (the system said no, with its errno). Both front ends make their lines and messages
// from Text(), so a refusal reads the same in either.
class COutcome {
public:
    enum class EKind : uint8_t { kDone, kRefused, kFailed };

    static COutcome Done() { return COutcome(); }
    static COutcome Refused(const QString& reason) { return COutcome(EKind::kRefused, 0, reason); }
    // reason: what was being done, or a clearer text than the system's; the system's when empty.
    static COutcome Failed(int error, const QString& reason = QString()) { return COutcome(EKind::kFailed, error, reason); }

    bool IsDone() const { return m_kind == EKind::kDone; }
    explicit operator bool() const { return IsDone(); }
    EKind Kind() const { return m_kind; }
    int Error() const { return m_error; }
    // Why not, as a line ends with it ("it was replaced by another item since it was listed"); empty when done.
    QString Text() const
    {
        if (m_kind == EKind::kFailed && m_reason.isEmpty())
            return QString::fromLocal8Bit(std::strerror(m_error));
        return m_reason;
    }

private:
    COutcome() = default;
    COutcome(EKind kind, int error, const QString& reason) : m_kind(kind), m_error(error), m_reason(reason) {}

    EKind m_kind = EKind::kDone;
    int m_error = 0;
    QString m_reason;
};
