#include "TestSupport.h"

#include <QDir>

#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TestSupport {

namespace {
QByteArray g_root;

int RemoveEntry(const char* path, const struct stat*, int, FTW*)
{
    remove(path);  // what cannot go stays; the walk goes on
    return 0;
}

// By bytes, so names that are not UTF-8 go too.
void RemoveRoot()
{
    if (!g_root.isEmpty())
        nftw(g_root.constData(), RemoveEntry, 64, FTW_DEPTH | FTW_PHYS);
}
}  // namespace

QString IsolateEnvironment()
{
    QByteArray templ = QDir::tempPath().toLocal8Bit() + "/sorvane-test-XXXXXX";
    if (!mkdtemp(templ.data()))
        qFatal("cannot make a temporary home");
    g_root = templ;
    std::atexit(RemoveRoot);
    setenv("HOME", g_root.constData(), 1);
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QByteArray dir = g_root + "/" + QByteArray(var).toLower();
        mkdir(dir.constData(), 0700);
        setenv(var, dir.constData(), 1);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return QFile::decodeName(g_root);
}

QString TempRoot()
{
    return QFile::decodeName(g_root);
}

void MakeDir(const QByteArray& path)
{
    if (mkdir(path.constData(), 0755) != 0 && errno != EEXIST)
        qFatal("mkdir %s failed", path.constData());
}

void MakeFile(const QByteArray& path, qint64 size)
{
    const int fd = open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, size) != 0)
        qFatal("cannot create %s", path.constData());
    close(fd);
}

void WriteFile(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        qFatal("cannot write %s", path.constData());
    close(fd);
}

}  // namespace TestSupport

bool TestSupport::AsAccomplice(const std::function<bool()>& step)
{
    const pid_t child = fork();
    if (child == 0) {
        // Only system calls from here on: the parent's other threads do not exist in the child.
        const bool dropped = setgroups(0, nullptr) == 0 && setresgid(kAccomplice, kAccomplice, kAccomplice) == 0
            && setresuid(kAccomplice, kAccomplice, kAccomplice) == 0;
        _exit(dropped && step() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {
constexpr unsigned kOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
}

TestSupport::CFileModesObeyed::CFileModesObeyed()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0 || !(data[0].effective & kOverrides))
        return;
    m_effective[0] = data[0].effective;
    m_effective[1] = data[1].effective;
    data[0].effective &= ~kOverrides;
    m_changed = syscall(SYS_capset, &header, data) == 0;
}

TestSupport::CFileModesObeyed::~CFileModesObeyed()
{
    if (!m_changed)
        return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    syscall(SYS_capget, &header, data);
    data[0].effective = m_effective[0];
    data[1].effective = m_effective[1];
    syscall(SYS_capset, &header, data);
}

void TestSupport::CFileModesObeyed::RestrictChild()
{
    // Root regains its capabilities at exec unless they leave the bounding set.
    prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
}
