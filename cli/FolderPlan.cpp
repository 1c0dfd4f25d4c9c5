#include "FolderPlan.h"

#include "CliLister.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

struct CId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const CId& o) const { return dev == o.dev && ino == o.ino; }
};

struct CGiven {
    const char* arg = nullptr;
    bool reference = false;
    std::string path;  // normalised, not resolved
    std::string real;  // resolved
    // The folder and each folder above it, nearest first, with the length of real that names it.
    std::vector<std::pair<CId, size_t>> chain;
    bool listed = false;
};

QString Shown(const char* arg)
{
    return QFile::decodeName(arg);
}

// Fills given's paths and chain; false with the reason when it cannot be listed.
bool Resolve(CGiven& given, QString* failure)
{
    const char* failed = nullptr;
    int error = 0;
    struct stat st;
    QString reason;
    if (!NormalisePath(given.arg, &given.path, &failed, &error)) {
        reason = QString::fromLocal8Bit(std::strerror(error));
        if (failed)
            reason = QStringLiteral("%1 (%2)").arg(QLatin1String(failed), reason);
    } else if (stat(given.path.c_str(), &st) != 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISDIR(st.st_mode)) {
        reason = QStringLiteral("not a folder");
    } else if (char* real = realpath(given.path.c_str(), nullptr)) {
        given.real = real;
        std::free(real);
    } else {
        reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!reason.isEmpty()) {
        *failure = QStringLiteral("cannot list '%1': %2").arg(Shown(given.arg), reason);
        return false;
    }
    // Up to the root, so a folder bound elsewhere is still known inside its other name.
    for (size_t length = given.real.size();;) {
        const std::string folder = given.real.substr(0, length);
        if (stat(folder.c_str(), &st) == 0)
            given.chain.push_back({CId{st.st_dev, st.st_ino}, length});
        if (length <= 1)
            break;
        length = given.real.rfind('/', length - 1);
        length = length == 0 ? 1 : length;
    }
    return !given.chain.empty();
}

// Where inner lies in outer: the length of inner.real that names outer's folder (the highest one),
// or npos when it does not.
size_t PlaceIn(const CGiven& inner, const CGiven& outer)
{
    size_t place = std::string::npos;
    for (const auto& [id, length] : inner.chain) {
        if (id == outer.chain.front().first)
            place = length;
    }
    return place;
}

}  // namespace

CFolderPlan PlanFolders(const std::vector<const char*>& searched, const std::vector<const char*>& references)
{
    CFolderPlan plan;
    std::vector<CGiven> given;
    for (const char* arg : searched)
        given.push_back({arg, false, {}, {}, {}, false});
    for (const char* arg : references)
        given.push_back({arg, true, {}, {}, {}, false});
    std::vector<CGiven*> usable;
    for (CGiven& g : given) {
        QString failure;
        if (Resolve(g, &failure))
            usable.push_back(&g);
        else
            plan.failures << failure;
    }

    // A folder is listed unless another lies above it, or it was given already.
    for (size_t i = 0; i < usable.size(); ++i) {
        CGiven& g = *usable[i];
        const CGiven* container = nullptr;
        bool twice = false;
        for (size_t j = 0; j < usable.size() && !container; ++j) {
            const CGiven& other = *usable[j];
            if (j == i)
                continue;
            const size_t place = PlaceIn(g, other);
            if (place == std::string::npos)
                continue;
            const bool same = g.chain.front().first == other.chain.front().first;
            if (!same || j < i) {
                container = &other;
                twice = same;
            }
        }
        g.listed = !container;
        if (g.listed)
            plan.folders.push_back(g.path);
        else if (twice)
            plan.notes << QStringLiteral("'%1' is the same folder as '%2': listed once").arg(Shown(g.arg), Shown(container->arg));
        else
            plan.notes << QStringLiteral("'%1' lies inside '%2': listed once, as part of it").arg(Shown(g.arg), Shown(container->arg));
    }

    // Each reference named as the paths of the folder listed for it will read.
    for (const CGiven* r : usable) {
        if (!r->reference)
            continue;
        for (const CGiven* l : usable) {
            const size_t place = l->listed ? PlaceIn(*r, *l) : std::string::npos;
            if (place == std::string::npos)
                continue;
            // What lies below the listed folder's own name ("/" ends in its slash).
            plan.references.AddReference(l->path + r->real.substr(place));
            break;
        }
    }
    return plan;
}
