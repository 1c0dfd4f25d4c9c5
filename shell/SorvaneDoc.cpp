#include "SorvaneDoc.h"

#include <QFile>
#include <QSaveFile>

bool CSorvaneDoc::Save(const QString& path, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    m_pathName = path;
    return true;
}

bool CSorvaneDoc::Open(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    m_pathName = path;
    return true;
}
