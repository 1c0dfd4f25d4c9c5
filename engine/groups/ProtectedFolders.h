#pragma once

#include <QByteArray>

#include <string>
#include <string_view>
#include <vector>

// Folders whose files the selection helpers never check, and whose files are trashed or replaced by
// links only after a warning of their own; a group's kept copy is taken from them first. Stored as
// one percent-encoded path per line, so every byte of a name survives.
class CProtectedFolders {
public:
    static CProtectedFolders FromStored(const QByteArray& stored);
    QByteArray Stored() const;

    // path lies in one of the folders or below it.
    bool Covers(std::string_view path) const;
    // Trashing path would take something protected along: path is a protected folder, lies below
    // one, or holds one. For a file the same as Covers.
    bool Guards(std::string_view path) const;
    bool Contains(std::string_view folder) const { return Find(folder) != m_folders.end(); }
    // Adds folder (an absolute path), or removes it when it is there.
    void Toggle(std::string_view folder);
    bool Empty() const { return m_folders.empty() && m_references.empty(); }
    // The stored folders, without the references.
    const std::vector<std::string>& Folders() const { return m_folders; }

    // Reference folders of one search: Covers and Guards count them as protected, but they are
    // never stored, and a file in one is never trashed or replaced by a link, allowed or not.
    void AddReference(std::string_view folder);
    const std::vector<std::string>& References() const { return m_references; }
    // path is a reference folder or lies below one.
    bool InReference(std::string_view path) const;
    // As Guards, for the reference folders alone.
    bool GuardsReference(std::string_view path) const;

private:
    std::vector<std::string>::const_iterator Find(std::string_view folder) const;
    std::vector<std::string> m_folders;
    std::vector<std::string> m_references;
};
