#pragma once

// What the trash tests share: native byte helpers, for QFile and QDir cannot reach names that are not UTF-8.
#include "TestSupport.h"

#include "Outcome.h"

#include <QFile>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>

// Whether an action was done; why not in *error otherwise.
inline bool Trashed(const COutcome& outcome, QString* error)
{
    if (!outcome.IsDone() && error)
        *error = outcome.Text();
    return outcome.IsDone();
}

namespace TrashTest {

inline bool Exists(const QByteArray& path)
{
    struct stat st {};
    return lstat(path.constData(), &st) == 0;
}
inline QByteArray ReadAll(const QByteArray& path)
{
    QByteArray data;
    if (FILE* f = fopen(path.constData(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;)
            data.append(buffer, qsizetype(n));
        fclose(f);
    }
    return data;
}
inline QList<QByteArray> Entries(const QByteArray& dir)
{
    QList<QByteArray> names;
    if (DIR* d = opendir(dir.constData())) {
        while (const dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names << e->d_name;
        closedir(d);
    }
    return names;
}
inline void RemoveTree(const QByteArray& path)
{
    nftw(path.constData(), [](const char* p, const struct stat*, int, FTW*) { return remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

// The test's temporary root with links resolved, as the trash records paths; with a work folder in it.
inline QByteArray ResolvedRoot()
{
    QByteArray root;
    if (char* real = realpath(QFile::encodeName(TestSupport::TempRoot()).constData(), nullptr)) {
        root = real;
        free(real);
    }
    TestSupport::MakeDir(root + "/work");
    return root;
}

}  // namespace TrashTest
