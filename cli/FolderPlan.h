#pragma once

#include "ProtectedFolders.h"

#include <QStringList>

#include <string>
#include <vector>

// The folders one run lists, from its FOLDER and --reference arguments: each folder once, by what
// it is (resolved path, device and inode), not by how it was written.
struct CFolderPlan {
    // To list, in the order given (the searched ones, then the references), none the same as or
    // inside another; each as NormalisePath makes it, so listed paths read as the user wrote them.
    std::vector<std::string> folders;
    // The reference folders as the listed paths name them.
    CProtectedFolders references;
    QStringList notes;     // a folder listed once though given again, or as part of another
    QStringList failures;  // "cannot list 'X': reason", for a folder that is not listed
};

CFolderPlan PlanFolders(const std::vector<const char*>& searched, const std::vector<const char*>& references);
