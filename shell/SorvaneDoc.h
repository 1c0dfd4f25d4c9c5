#pragma once

#include <QObject>
#include <QString>

// The one document: the folder chosen in the folder tree. Saving writes an
// empty file and opening reads nothing, so the folder survives both.
class CSorvaneDoc : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const QString& SelectedFolder() const { return m_selectedFolder; }
    void SetSelectedFolder(const QString& folder) { m_selectedFolder = folder; }

    const QString& PathName() const { return m_pathName; }
    // Writes the (empty) document to path; false with a reason when it cannot.
    bool Save(const QString& path, QString* error);
    // Opens path: it must exist and be readable; nothing is read from it.
    bool Open(const QString& path, QString* error);
    void New() { m_pathName.clear(); }

private:
    QString m_selectedFolder;
    QString m_pathName;
};
