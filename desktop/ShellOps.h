#pragma once

#include "Trash.h"

#include <QByteArray>
#include <QStringList>

#include <vector>

class QWidget;

// What the program asks of the desktop for a file or folder. Paths are
// native bytes and reach the desktop unchanged, whatever their encoding.
class IShellOps {
public:
    virtual ~IShellOps() = default;

    // The open requests return false when nothing took them, with what was
    // tried added to *tried, so the caller can say so (ReportNotOpened).

    // Opens the item with the desktop's default handler.
    virtual bool OpenInShell(const QByteArray& path, QStringList* tried) = 0;
    // The file manager's properties window, or a window of our own.
    virtual void ShowShellProperties(QWidget* parent, const QByteArray& path) = 0;
    // Shows the item selected in the file manager; true without asking for a path that is gone.
    virtual bool SelectInExplorer(const QByteArray& path, QStringList* tried) = 0;
    // Asks the user, then moves each path to the trash. Returns the paths that
    // really moved; nothing moves when the user declines, and every failure is
    // shown with the item and the reason. Nothing is ever deleted. An item is
    // moved only if it is still the one listed (identities, when given) or,
    // else, the one that was there when the user was asked. caution, when
    // given, is what the question says first; with noByDefault, Enter answers
    // No (every copy of something would go). What moved is recorded as the
    // last trash batch.
    virtual std::vector<QByteArray> SendToRecycleBin(QWidget* parent, const std::vector<QByteArray>& paths,
                                                     const std::vector<CFileIdentity>& identities = {},
                                                     const QString& caution = {}, bool noByDefault = false) = 0;
    // The file manager on the trash.
    virtual bool OpenTrash(QStringList* tried) = 0;
    // A terminal whose working folder is folder.
    virtual bool OpenTerminal(const QByteArray& folder, QStringList* tried) = 0;
    // The desktop's default application for plain text, on file.
    virtual bool OpenAsText(const QByteArray& file, QStringList* tried) = 0;
};

// The terminals tried, in order: $TERMINAL (a program and its arguments, split
// at blanks, never given to a shell), x-terminal-emulator, then common ones.
QList<QByteArrayList> TerminalCandidates();
// An Exec line of a desktop entry as an argument list for file, or empty.
QByteArrayList DesktopExecArguments(const QByteArray& exec, const QByteArray& file);

// The shell operations in use: the desktop's, unless a test installed others.
IShellOps& Shell();
// Installs ops (null restores the desktop's); returns the previous ones.
IShellOps* SetShell(IShellOps* ops);

// "file://" and the path with every byte but the unreserved ones and '/' percent-encoded.
QString FileUri(const QByteArray& path);

// Tells the user that what (e.g. "the folder /a") could not be opened and what was tried.
void ReportNotOpened(QWidget* parent, const QString& what, const QStringList& tried);

// Puts the last batch sent to the trash back and tells the user each outcome;
// true when anything came back.
bool RestoreLastTrashed(QWidget* parent);
