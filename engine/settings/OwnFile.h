#pragma once

#include <QByteArray>

#include <sys/stat.h>

// A small file of the effective user's own (the settings file), read whole and
// replaced whole. It is reached from a base folder through folders and links
// checked at each step, so that a file, folder or link another user controls
// never makes a process (root's above all) write where that user chose. The
// replacement is a new file renamed over the old one: on any failure the old
// file is left byte for byte as it was.
class COwnFile {
public:
    COwnFile() = default;
    COwnFile(const COwnFile&) = delete;
    COwnFile& operator=(const COwnFile&) = delete;
    ~COwnFile();

    // Finds relative (names separated by slashes) below the folder base,
    // making missing folders, and reads the file if it exists. A link is
    // followed only when the effective user (or root) owns it and the folder
    // it is in; the file's folder must be theirs and not open to others'
    // changes; the file must be theirs, regular, writable by its owner and of
    // at most maxSize bytes. False when any of that does not hold or the file
    // could not be read.
    bool Open(const QByteArray& base, const QByteArray& relative, qint64 maxSize);
    bool Exists() const { return m_exists; }
    const QByteArray& Bytes() const { return m_bytes; }
    // Puts bytes in place of the file, with its mode and group and a time
    // later, to the millisecond, than the old file's; false, with the file
    // untouched, on any failure.
    bool Replace(const QByteArray& bytes);

private:
    bool OpenFile(qint64 maxSize);
    void Close();

    int m_folder = -1;  // the file's folder, locked against our other processes while open
    QByteArray m_name;
    bool m_exists = false;
    struct stat m_stat = {};
    QByteArray m_bytes;
};
