// sorvane-cli: lists a folder tree exactly as the Sorvane window does.

#include "AppTexts.h"
#include "CliHelp.h"
#include "CliLister.h"
#include "ContentCheck.h"
#include "DuplicatesPrinter.h"
#include "HeadPrefetch.h"
#include "ListingStatus.h"
#include "ResultsFill.h"
#include "SizeGroups.h"
#include "TrashCommands.h"

#include <QFile>
#include <QLocale>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include "StopSignals.h"
#include "WorkerPool.h"
#include "WorkerThread.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitOutput = 1;
constexpr int kExitSignalBase = 128;  // + the signal's number, as a shell reports it

// The walk's token; set from a signal handler, so it must never lock.
std::atomic<bool> g_stopWalk{false};
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool> g_stopFill{false};
std::atomic<bool> g_terminated{false};
volatile sig_atomic_t g_interrupts = 0;
volatile sig_atomic_t g_stopSignal = 0;

void OnInterrupt(int signal)
{
    // First signal: stop the walk as the Stop command does; second: leave now.
    if (++g_interrupts > 1)
        _exit(kExitSignalBase + signal);
    g_stopSignal = signal;
    g_stopWalk.store(true, std::memory_order_relaxed);
    g_stopFill.store(true, std::memory_order_relaxed);
    // SIGTERM is often sent once by a program that then waits: output that
    // nobody reads must not keep the process alive.
    if (signal == SIGTERM)
        g_terminated.store(true, std::memory_order_relaxed);
}

void PrintError(const QString& text)
{
    const QByteArray line = "sorvane-cli: " + text.toUtf8() + "\n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.constData(), static_cast<size_t>(line.size()));
}

int UsageError(const QString& text)
{
    PrintError(text + QStringLiteral("\nTry 'sorvane-cli --help' for more information."));
    return kExitUsage;
}

bool ParseSetting(const char* arg, QString* error)
{
    const char* eq = std::strchr(arg, '=');
    if (!eq) {
        *error = QStringLiteral("--set needs NAME=VALUE, got '%1'").arg(QString::fromLocal8Bit(arg));
        return false;
    }
    const QString name = QString::fromLocal8Bit(arg, eq - arg);
    const QString value = QString::fromLocal8Bit(eq + 1);
    int defaultValue = 0;
    if (Opt::IsTextValue(name)) {
        COptionsStore::SetOverride(name, value);
        return true;
    }
    if (!Opt::NumericDefault(name, &defaultValue)) {
        *error = QStringLiteral("unknown setting '%1'").arg(name);
        return false;
    }
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok) {
        *error = QStringLiteral("the value of %1 must be a whole number, got '%2'").arg(name, value);
        return false;
    }
    COptionsStore::SetOverride(name, n);
    return true;
}

// Calls every() ten times a second on a helper thread until stop, polling
// often enough to end within 10 ms of it.
void Tick(const std::atomic<bool>& stop, const std::function<void()>& every)
{
    BlockStopSignals();
    for (int tick = 1; !stop.load(); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (tick % 10 == 0)
            every();
    }
}

// "comparing contents: 1.2 GiB of 3.4 GiB (35%)" on standard error.
void ShowCompareProgress(const ContentCheck::CProgress& progress)
{
    const uint64_t total = progress.total, done = std::min<uint64_t>(progress.done, total);
    if (total == 0)
        return;
    const QByteArray line = "\r\x1b[Kcomparing contents: "
        + ListingStatus::SizeText(done, QLocale::c()).toUtf8() + " of "
        + ListingStatus::SizeText(total, QLocale::c()).toUtf8() + " ("
        + QByteArray::number(int(done * 100 / total)) + "%)";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.constData(), size_t(line.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    setlocale(LC_ALL, "");
    IgnoreWriteSignals();
    LimitMallocArenas();

    bool printFiles = false;
    bool nulSeparated = false;
    bool duplicates = false;
    bool json = false;
    bool folders = false;
    bool trash = false;
    bool restoreLast = false;
    bool link = false;
    bool hardLinks = false;
    bool linkKindGiven = false;
    std::vector<const char*> trashPaths;
    TrashCommands::CGuard guard;
    bool guardGiven = false;
    const char* folderArg = nullptr;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!optionsEnded && a[0] == '-' && a[1] != '\0') {
            QString error;
            if (!std::strcmp(a, "--")) {
                optionsEnded = true;
            } else if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
                PrintHelp();
                return 0;
            } else if (!std::strcmp(a, "--version")) {
                COutput(STDOUT_FILENO).Write(QStringLiteral("sorvane-cli %1\n").arg(QLatin1String(Res::kAppVersion)));
                return 0;
            } else if (!std::strcmp(a, "--trash")) {
                trash = true;
            } else if (!std::strcmp(a, "--restore-last")) {
                restoreLast = true;
            } else if (!std::strcmp(a, "--link")) {
                link = true;
            } else if (!std::strncmp(a, "--link-kind=", 12)) {
                if (std::strcmp(a + 12, "clone") && std::strcmp(a + 12, "hard"))
                    return UsageError(QStringLiteral("--link-kind takes clone or hard"));
                hardLinks = !std::strcmp(a + 12, "hard");
                linkKindGiven = true;
            } else if (!std::strcmp(a, "--allow-protected")) {
                guard.allowProtected = guardGiven = true;
            } else if (!std::strcmp(a, "--protect") || !std::strncmp(a, "--protect=", 10)) {
                const char* folder = a[9] == '=' ? a + 10 : (i + 1 < argc ? argv[++i] : nullptr);
                if (!folder || !*folder)
                    return UsageError(QStringLiteral("--protect needs a FOLDER"));
                char* real = realpath(folder, nullptr);
                if (!real)
                    return UsageError(QStringLiteral("--protect: %1: %2")
                                          .arg(EscapePath(folder), QString::fromLocal8Bit(strerror(errno))));
                guard.protect << QByteArray(real);
                free(real);
                guardGiven = true;
            } else if (!std::strcmp(a, "--contents")) {
                COptionsStore::SetOverride(QLatin1String(Opt::CompareContents.name), 1);
            } else if (!std::strcmp(a, "--format=json")) {
                json = true;
            } else if (!std::strcmp(a, "--files")) {
                printFiles = true;
            } else if (!std::strcmp(a, "--duplicates")) {
                duplicates = true;
            } else if (!std::strcmp(a, "--folders")) {
                folders = true;
            } else if (!std::strcmp(a, "-0")) {
                nulSeparated = true;
            } else if (!std::strcmp(a, "--set") || !std::strncmp(a, "--set=", 6)) {
                const char* setting = a[5] == '=' ? a + 6 : (i + 1 < argc ? argv[++i] : nullptr);
                if (!setting)
                    return UsageError(QStringLiteral("--set needs NAME=VALUE"));
                if (!ParseSetting(setting, &error))
                    return UsageError(error);
            } else {
                return UsageError(QStringLiteral("unknown option '%1'").arg(QString::fromLocal8Bit(a)));
            }
            continue;
        }
        if (trash || link) {
            trashPaths.push_back(a);
            continue;
        }
        if (folderArg)
            return UsageError(QStringLiteral("only one FOLDER may be given"));
        folderArg = a;
    }
    if (linkKindGiven && !link)
        return UsageError(QStringLiteral("--link-kind only applies with --link"));
    if (guardGiven && !trash && !link)
        return UsageError(QStringLiteral("--protect and --allow-protected only apply with --trash or --link"));
    if (trash || restoreLast || link) {
        if (int(trash) + int(restoreLast) + int(link) != 1 || printFiles || duplicates || folderArg
            || (trash && trashPaths.empty()))
            return UsageError(QStringLiteral("--trash PATH..., --link KEEP PATH... and --restore-last stand alone"));
        if (link && trashPaths.size() < 2)
            return UsageError(QStringLiteral("--link needs KEEP and at least one PATH"));
        for (const char* path : trashPaths) {
            if (!*path)
                return UsageError(QStringLiteral("%1 was given an empty path").arg(link ? "--link" : "--trash"));
        }
        COutput out(STDOUT_FILENO);
        if (link)
            return TrashCommands::Link(hardLinks, trashPaths, guard, out);
        return trash ? TrashCommands::Trash(trashPaths, guard, out) : TrashCommands::RestoreLast(out);
    }
    if (!folderArg)
        return UsageError(QStringLiteral("no FOLDER given"));
    if (nulSeparated && !printFiles && !duplicates)
        return UsageError(QStringLiteral("-0 only applies with --files or --duplicates"));
    if (duplicates && printFiles)
        return UsageError(QStringLiteral("--files and --duplicates cannot be used together"));
    if (folders && !duplicates)
        return UsageError(QStringLiteral("--folders only applies with --duplicates"));
    if (json && (!duplicates || nulSeparated))
        return UsageError(QStringLiteral("--format=json only applies with --duplicates, without -0"));

    std::string folder;
    const char* failed = nullptr;
    int error = 0;
    if (!NormalisePath(folderArg, &folder, &failed, &error)) {
        const QString reason = QString::fromLocal8Bit(std::strerror(error));
        return UsageError(QStringLiteral("cannot list '%1': %2")
                              .arg(QFile::decodeName(folderArg),
                                   failed ? QStringLiteral("%1 (%2)").arg(QLatin1String(failed), reason) : reason));
    }
    struct stat st;
    if (stat(folder.c_str(), &st) != 0)
        return UsageError(QStringLiteral("cannot list '%1': %2")
                              .arg(QFile::decodeName(folderArg), QString::fromLocal8Bit(std::strerror(errno))));
    if (!S_ISDIR(st.st_mode))
        return UsageError(QStringLiteral("cannot list '%1': not a folder").arg(QFile::decodeName(folderArg)));

    COutput out(STDOUT_FILENO);
    COutput err(STDERR_FILENO);
    COutput& status = printFiles || duplicates ? err : out;
    if (&status != &out)
        out.GiveUpOn(&g_terminated);

    CCliLister lister;
    lister.m_fileOutput = printFiles ? &out : nullptr;
    lister.m_separator = nulSeparated ? '\0' : '\n';
    lister.m_showProgress = isatty(STDERR_FILENO);

    // Files are examined while the walk still goes on, so a cold disk is busy
    // with the walk and the sizes at once.
    // Copied folders are byte-exact: their files' contents are always compared.
    const bool contents = duplicates && (folders || COptionsStore().IsOn(Opt::CompareContents));
    FolderGroups::CTree tree;
    if (folders)
        lister.m_tree = &tree;
    CHeadPrefetch prefetch(lister.m_arrFiles);  // outlives the examining threads that offer to it
    CSizeGroups groups(lister.m_arrFiles);
    if (duplicates && !folders) {
        if (contents) {
            prefetch.Start(QByteArray::fromStdString(folder));
            groups.WatchSizes([&prefetch](int index, uint64_t size) { prefetch.Offer(index, size); });
        }
        groups.Start(g_stopFill);
        lister.m_groups = &groups;
    }

    lister.m_stopWalk = &g_stopWalk;
    HandleStopSignals(OnInterrupt, true);

    const QString shownFolder = QFile::decodeName(QByteArray::fromStdString(folder));
    lister.m_helper.PrepareListing(QByteArray::fromStdString(folder));
    status.Write(ListingStatus::StartedText(shownFolder, lister.m_helper.StartTime()) + QLatin1Char('\n'));
    status.Flush();
    CWalkResult walk;
    {
        // Raises the progress flag ten times a second while the walk runs.
        CWorkerThread ticker;
        if (lister.m_showProgress) {
            ticker.Start([&lister](const std::atomic<bool>& stop) {
                Tick(stop, [&lister] { lister.m_progressDue.store(true, std::memory_order_relaxed); });
            });
        }
        walk = lister.m_helper.StartListing(g_stopWalk);
    }
    if (lister.m_showProgress) {
        [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, "\r\x1b[K", 4);
    }
    out.Flush();

    for (const CAppHelper::CUnreadFolder& unread : walk.m_arrUnreadFolders)
        err.Write(QStringLiteral("sorvane-cli: cannot read folder %1: %2\n")
                      .arg(EscapePath(unread.path.toStdString()), CAppHelper::UnreadReason(unread.error)));
    err.Flush();
    const ListingStatus::CSummary summary = ListingStatus::Finished(
        walk, lister.m_helper.Options().m_bViewFilesCount ? lister.FoldersWithFiles() : -1, lister.m_arrFiles.GetSize());
    for (const QString& row : summary.rows)
        status.Write(row + QLatin1Char('\n'));
    status.Flush();

    if (duplicates && !g_interrupts) {
        const CDuplicatesPrinter::EFormat format = json ? CDuplicatesPrinter::EFormat::Json
            : nulSeparated                               ? CDuplicatesPrinter::EFormat::Nuls
                                                         : CDuplicatesPrinter::EFormat::Tabs;
        SelectionRules::CFigures figures;
        bool done = false;
        if (contents) {
            CFillResult result;
            std::vector<FolderGroups::CFolderRow> folderRows;
            ContentCheck::CProgress progress;
            {
                CWorkerThread meter;  // the bytes compared, on a terminal
                if (lister.m_showProgress)
                    meter.Start([&progress](const std::atomic<bool>& stop) { Tick(stop, [&progress] { ShowCompareProgress(progress); }); });
                // Size groups, then the content check over what survives them (and the folders over that).
                if (folders) {
                    // The listing's paths outlive the rows, which point at them.
                    const CFillInput input{[&lister] { return lister.m_arrFiles.GetSize(); },
                                           [&lister](int i) { return lister.m_arrFiles.At(i); }, true};
                    done = FolderGroups::Find(input, tree, g_stopFill, &progress, &folderRows);
                } else if ((done = groups.Finish())) {
                    prefetch.Finish();  // the check reads on its own from here
                    // The rows point into the listing's paths, which outlive them.
                    result.rows.reserve(groups.Rows());
                    groups.Drain([&result](const std::vector<CResultRow>& rows, size_t, bool, bool) {
                        result.rows.insert(result.rows.end(), rows.begin(), rows.end());
                    });
                    malloc_trim(0);  // what the walk and the sizes freed goes back before the check's own peak
                    done = ContentCheck::Run(result.rows, g_stopFill, &progress);
                }
            }
            if (lister.m_showProgress) {
                [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, "\r\x1b[K", 4);
            }
            if (done && folders) {
                CDuplicatesPrinter::PrintFolders(folderRows, format, out);
                out.Flush();
                status.Write(CDuplicatesPrinter::FoldersLine(folderRows) + QLatin1Char('\n'));
                status.Flush();
                done = false;  // said: no file figures follow
            } else if (done) {
                CDuplicatesPrinter::Print(result.rows, 1, format, out);
                figures = SelectionRules::Figures(result.rows);
            }
        } else {
            // Read through once, group by group: the compact form is enough.
            done = groups.Finish();
            if (done) {
                figures = groups.Drain([&](const std::vector<CResultRow>& rows, size_t firstSr, bool opens, bool closes) {
                    CDuplicatesPrinter::Print(rows, firstSr, format, out, opens, closes);
                });
            }
        }
        if (done) {
            out.Flush();
            status.Write(CDuplicatesPrinter::ReclaimableLine(figures) + QLatin1Char('\n'));
            status.Flush();
        }
        out.Flush();
    }

    if (out.Error()) {
        PrintError(QStringLiteral("cannot write the output: %1").arg(QString::fromLocal8Bit(std::strerror(out.Error()))));
        return kExitOutput;
    }
    return g_interrupts ? kExitSignalBase + g_stopSignal : 0;
}
