#pragma once

#include "ShellOps.h"

#include <QByteArrayList>
#include <QStringList>

// Records every request to the desktop; the trash "moves" what it is told to
// accept and a terminal starts when one is wanted.
class CRecordingShell : public IShellOps {
public:
    void OpenInShell(const QByteArray& path) override { calls << "open " + path; }
    void ShowShellProperties(QWidget*, const QByteArray& path) override { calls << "properties " + path; }
    void SelectInExplorer(const QByteArray& path) override { calls << "reveal " + path; }
    std::vector<QByteArray> SendToRecycleBin(QWidget*, const std::vector<QByteArray>& paths) override
    {
        std::vector<QByteArray> moved;
        for (const QByteArray& p : paths) {
            calls << "trash " + p;
            if (accept)
                moved.push_back(p);
        }
        return moved;
    }
    void OpenTrash() override { calls << "open trash"; }
    bool OpenTerminal(const QByteArray& folder, QStringList* tried) override
    {
        calls << "terminal " + folder;
        *tried << QStringLiteral("x-terminal-emulator") << QStringLiteral("xterm");
        return terminalStarts;
    }
    void OpenAsText(const QByteArray& file) override { calls << "text " + file; }

    QByteArrayList calls;
    bool accept = true;
    bool terminalStarts = true;
};
