// sorvane-cli: lists a folder tree exactly as the Sorvane window does.

#include "AppTexts.h"
#include "CliHelp.h"
#include "CliLister.h"
#include "ContentCheck.h"
#include "DigestCache.h"
#include "DuplicatesPrinter.h"
#include "FileFilters.h"
#include "FolderPlan.h"
#include "HeadPrefetch.h"
#include "ReferenceGroups.h"
#include "ListingStatus.h"
#include "ResultsFill.h"
#include "Search.h"
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
constexpr int kExitFolders = 1;  // a folder given could not be listed; the others were
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

// The name patterns' values are checked as they come: one pattern per --set, the first replacing the
// stored ones, the later ones adding to them.
bool AddSkipName(const QString& value, QString* error)
{
    static QStringList patterns;
    if (!value.isEmpty() && !FileFilters::CheckPattern(value, error)) {
        *error = QStringLiteral("SkipNames: %1").arg(*error);
        return false;
    }
    patterns << value;
    COptionsStore::SetOverride(QLatin1String(Opt::SkipNames), patterns.join(QLatin1Char('\n')));
    return true;
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
    if (name == QLatin1String(Opt::SkipNames))
        return AddSkipName(value, error);
    uint64_t bytes = 0;
    if ((name == QLatin1String(Opt::MinimumFileSize) || name == QLatin1String(Opt::MaximumFileSize))
        && !FileFilters::ParseSize(value, &bytes, error)) {
        *error = QStringLiteral("%1: %2").arg(name, *error);
        return false;
    }
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

// What the command line asked for.
struct CArguments {
    bool printFiles = false;
    bool nulSeparated = false;
    bool duplicates = false;
    bool json = false;
    bool folders = false;
    bool stats = false;
    bool trash = false;
    bool restoreLast = false;
    bool link = false;
    bool hardLinks = false;
    bool linkKindGiven = false;
    std::vector<const char*> trashPaths;
    TrashCommands::CGuard guard;
    bool guardGiven = false;
    std::vector<const char*> folderArgs;
    std::vector<const char*> referenceArgs;
};

constexpr int kGoOn = -1;  // parsing left nothing to exit with

// The value of an option given as "NAME=VALUE" or "NAME VALUE" (a starts with NAME, nameLength long);
// i moves past a value taken from the next argument; null when there is none.
const char* OptionValue(const char* a, size_t nameLength, int& i, int argc, char** argv)
{
    return a[nameLength] == '=' ? a + nameLength + 1 : (i + 1 < argc ? argv[++i] : nullptr);
}

// One option; kGoOn, or the exit status. i moves past an option's own argument.
int ParseOption(const char* a, int& i, int argc, char** argv, CArguments& args)
{
    QString error;
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
        PrintHelp();
        return 0;
    } else if (!std::strcmp(a, "--version")) {
        COutput(STDOUT_FILENO).Write(QStringLiteral("sorvane-cli %1\n").arg(QLatin1String(Res::kAppVersion)));
        return 0;
    } else if (!std::strcmp(a, "--trash")) {
        args.trash = true;
    } else if (!std::strcmp(a, "--restore-last")) {
        args.restoreLast = true;
    } else if (!std::strcmp(a, "--link")) {
        args.link = true;
    } else if (!std::strncmp(a, "--link-kind=", 12)) {
        if (std::strcmp(a + 12, "clone") && std::strcmp(a + 12, "hard"))
            return UsageError(QStringLiteral("--link-kind takes clone or hard"));
        args.hardLinks = !std::strcmp(a + 12, "hard");
        args.linkKindGiven = true;
    } else if (!std::strcmp(a, "--allow-protected")) {
        args.guard.allowProtected = args.guardGiven = true;
    } else if (!std::strcmp(a, "--protect") || !std::strncmp(a, "--protect=", 10)) {
        const char* folder = OptionValue(a, 9, i, argc, argv);
        if (!folder || !*folder)
            return UsageError(QStringLiteral("--protect needs a FOLDER"));
        char* real = realpath(folder, nullptr);
        if (!real)
            return UsageError(QStringLiteral("--protect: %1: %2").arg(EscapePath(folder), QString::fromLocal8Bit(strerror(errno))));
        args.guard.protect << QByteArray(real);
        free(real);
        args.guardGiven = true;
    } else if (!std::strcmp(a, "--reference") || !std::strncmp(a, "--reference=", 12)) {
        const char* folder = OptionValue(a, 11, i, argc, argv);
        if (!folder || !*folder)
            return UsageError(QStringLiteral("--reference needs a FOLDER"));
        args.referenceArgs.push_back(folder);
    } else if (!std::strcmp(a, "--contents")) {
        COptionsStore::SetOverride(QLatin1String(Opt::CompareContents.name), 1);
    } else if (!std::strcmp(a, "--no-cache")) {
        COptionsStore::SetOverride(QLatin1String(Opt::UseCache.name), 0);
    } else if (!std::strcmp(a, "--format=json")) {
        args.json = true;
    } else if (!std::strcmp(a, "--files")) {
        args.printFiles = true;
    } else if (!std::strcmp(a, "--duplicates")) {
        args.duplicates = true;
    } else if (!std::strcmp(a, "--folders")) {
        args.folders = true;
    } else if (!std::strcmp(a, "--stats")) {
        args.stats = true;
    } else if (!std::strcmp(a, "-0")) {
        args.nulSeparated = true;
    } else if (!std::strcmp(a, "--set") || !std::strncmp(a, "--set=", 6)) {
        const char* setting = OptionValue(a, 5, i, argc, argv);
        if (!setting)
            return UsageError(QStringLiteral("--set needs NAME=VALUE"));
        if (!ParseSetting(setting, &error))
            return UsageError(error);
    } else {
        return UsageError(QStringLiteral("unknown option '%1'").arg(QString::fromLocal8Bit(a)));
    }
    return kGoOn;
}

int ParseArguments(int argc, char** argv, CArguments& args)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!optionsEnded && a[0] == '-' && a[1] != '\0') {
            if (!std::strcmp(a, "--")) {
                optionsEnded = true;
                continue;
            }
            const int exit = ParseOption(a, i, argc, argv, args);
            if (exit != kGoOn)
                return exit;
            continue;
        }
        if (args.trash || args.link) {
            args.trashPaths.push_back(a);
            continue;
        }
        args.folderArgs.push_back(a);
    }
    return kGoOn;
}

// --trash, --link and --restore-last, which list nothing.
int RunStandalone(const CArguments& args)
{
    if (int(args.trash) + int(args.restoreLast) + int(args.link) != 1 || args.printFiles || args.duplicates
        || !args.folderArgs.empty() || !args.referenceArgs.empty() || args.stats || (args.trash && args.trashPaths.empty()))
        return UsageError(QStringLiteral("--trash PATH..., --link KEEP PATH... and --restore-last stand alone"));
    if (args.link && args.trashPaths.size() < 2)
        return UsageError(QStringLiteral("--link needs KEEP and at least one PATH"));
    for (const char* path : args.trashPaths) {
        if (!*path)
            return UsageError(QStringLiteral("%1 was given an empty path").arg(args.link ? "--link" : "--trash"));
    }
    COutput out(STDOUT_FILENO);
    if (args.link)
        return TrashCommands::Link(args.hardLinks, args.trashPaths, args.guard, out);
    return args.trash ? TrashCommands::Trash(args.trashPaths, args.guard, out) : TrashCommands::RestoreLast(out);
}

// The listing's combinations of options; kGoOn when they hold together.
int CheckListingArguments(const CArguments& args)
{
    if (args.folderArgs.empty())
        return UsageError(QStringLiteral("no FOLDER given"));
    if (!args.referenceArgs.empty() && !args.duplicates)
        return UsageError(QStringLiteral("--reference only applies with --duplicates"));
    if (args.nulSeparated && !args.printFiles && !args.duplicates)
        return UsageError(QStringLiteral("-0 only applies with --files or --duplicates"));
    if (args.duplicates && args.printFiles)
        return UsageError(QStringLiteral("--files and --duplicates cannot be used together"));
    if (args.folders && !args.duplicates)
        return UsageError(QStringLiteral("--folders only applies with --duplicates"));
    if (args.json && (!args.duplicates || args.nulSeparated))
        return UsageError(QStringLiteral("--format=json only applies with --duplicates, without -0"));
    return kGoOn;
}

// The folders to list, made absolute, checked and each taken once; kGoOn when any is left, having
// said on standard error what is not listed and why.
int PlanListing(const CArguments& args, CFolderPlan* plan)
{
    *plan = PlanFolders(args.folderArgs, args.referenceArgs);
    if (plan->folders.empty()) {
        for (int i = 0; i + 1 < plan->failures.size(); ++i)
            PrintError(plan->failures[i]);
        return UsageError(plan->failures.value(plan->failures.size() - 1));
    }
    for (const QString& line : plan->failures + plan->notes)
        PrintError(line);
    return kGoOn;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One run of a listing and what follows it, with the streams it writes to.
class CListingRun {
public:
    CListingRun(const CArguments& args, CFolderPlan plan, CWalkOptions options)
        : m_args(args), m_plan(std::move(plan)), m_options(std::move(options)), m_groups(m_lister.m_arrFiles)
    {
        if (&Status() != &m_out)
            m_out.GiveUpOn(&g_terminated);
    }

    int Run()
    {
        Prepare();
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& folder : m_plan.folders) {
            if (g_interrupts)
                break;
            List(folder);
        }
        m_stages.push_back(Search::Listed(uint64_t(m_lister.m_arrFiles.GetSize()), SecondsSince(start)));
        if (m_args.duplicates && !g_interrupts)
            SearchDuplicates();
        if (m_args.stats)
            WriteStats();
        if (m_out.Error()) {
            PrintError(QStringLiteral("cannot write the output: %1").arg(QString::fromLocal8Bit(std::strerror(m_out.Error()))));
            return kExitOutput;
        }
        return g_interrupts ? kExitSignalBase + g_stopSignal : m_plan.failures.isEmpty() ? 0 : kExitFolders;
    }

private:
    COutput& Status() { return m_args.printFiles || m_args.duplicates ? m_err : m_out; }
    bool Contents() const { return m_args.duplicates && (m_args.folders || COptionsStore().IsOn(Opt::CompareContents)); }

    void Prepare()
    {
        m_lister.m_fileOutput = m_args.printFiles ? &m_out : nullptr;
        m_lister.m_separator = m_args.nulSeparated ? '\0' : '\n';
        m_lister.m_showProgress = isatty(STDERR_FILENO);
        // Files are examined while the walk still goes on, so a cold disk is busy
        // with the walk and the sizes at once.
        // Copied folders are byte-exact: their files' contents are always compared.
        if (m_args.folders)
            m_lister.m_tree = &m_tree;
        if (m_args.duplicates && !m_args.folders) {
            if (Contents()) {
                if (COptionsStore().IsOn(Opt::UseCache)) {
                    m_cache = std::make_unique<CDigestCache>();
                    m_cache->Load();
                    m_cache->ExpectNotes();
                }
                m_prefetch.Start(QByteArray::fromStdString(m_plan.folders.front()));
                m_groups.WatchSizes([this](int index, const CExamined& found) {
                    m_prefetch.OfferExamined(m_lister.m_arrFiles.At(index).data(), found, m_cache.get());
                });
            }
            m_groups.Start(g_stopFill);
            m_lister.m_groups = &m_groups;
        }
        m_lister.m_stopWalk = &g_stopWalk;
        HandleStopSignals(OnInterrupt, true);
    }

    // One folder's listing with its own status lines; its files join those listed before.
    void List(const std::string& folder)
    {
        const QString shownFolder = QFile::decodeName(QByteArray::fromStdString(folder));
        const int filesBefore = m_lister.m_arrFiles.GetSize();
        const int foldersWithFilesBefore = m_lister.FoldersWithFiles();
        m_tree.NewListing();  // no folder of the last listing is a parent of this one's
        m_lister.m_helper.PrepareListing(QByteArray::fromStdString(folder), m_options);
        Status().Write(ListingStatus::StartedText(shownFolder, m_lister.m_helper.StartTime()) + QLatin1Char('\n'));
        Status().Flush();
        CWalkResult walk;
        {
            // Raises the progress flag ten times a second while the walk runs.
            CWorkerThread ticker;
            if (m_lister.m_showProgress) {
                ticker.Start([this](const std::atomic<bool>& stop) {
                    Tick(stop, [this] { m_lister.m_progressDue.store(true, std::memory_order_relaxed); });
                });
            }
            walk = m_lister.m_helper.StartListing(g_stopWalk);
        }
        ClearProgressLine();
        m_out.Flush();

        for (const CAppHelper::CUnreadFolder& unread : walk.m_arrUnreadFolders)
            m_err.Write(QStringLiteral("sorvane-cli: cannot read folder %1: %2\n")
                            .arg(EscapePath(unread.path.toStdString()), CAppHelper::UnreadReason(unread.error)));
        m_err.Flush();
        const ListingStatus::CSummary summary = ListingStatus::Finished(
            walk, m_options.m_bViewFilesCount ? m_lister.FoldersWithFiles() - foldersWithFilesBefore : -1,
            m_lister.m_arrFiles.GetSize() - filesBefore);
        for (const QString& row : summary.rows)
            Status().Write(row + QLatin1Char('\n'));
        Status().Flush();
    }

    void ClearProgressLine() const
    {
        if (m_lister.m_showProgress) {
            [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, "\r\x1b[K", 4);
        }
    }

    CDuplicatesPrinter::EFormat Format() const
    {
        return m_args.json ? CDuplicatesPrinter::EFormat::Json
               : m_args.nulSeparated ? CDuplicatesPrinter::EFormat::Nuls
                                     : CDuplicatesPrinter::EFormat::Tabs;
    }

    void SearchDuplicates()
    {
        SelectionRules::CFigures figures;
        const bool done = Contents() ? CompareContents(&figures) : StreamSizeGroups(&figures);
        if (done) {
            m_out.Flush();
            Status().Write(CDuplicatesPrinter::ReclaimableLine(figures) + QLatin1Char('\n'));
            Status().Flush();
        }
        m_out.Flush();
    }

    // Read through once, group by group: the compact form is enough.
    bool StreamSizeGroups(SelectionRules::CFigures* figures)
    {
        const auto start = std::chrono::steady_clock::now();
        if (!m_groups.Finish())
            return false;
        Search::CStage stage{"sharing a size", "files", 0, 0};
        CReferenceGroups kept(m_plan.references);
        Search::CStage outside{kOutsideReferences, "files", 0, 0};
        *figures = m_groups.Drain([&](const std::vector<CResultRow>& rows, size_t firstSr, bool opens, bool closes) {
            stage.count += rows.size();
            stage.groups += Search::GroupCount(rows) - (opens || rows.empty() ? 0 : 1);
            if (!References()) {
                CDuplicatesPrinter::Print(rows, firstSr, Format(), m_out, opens, closes);
                return;
            }
            kept.Feed(rows, opens, closes, [&](const std::vector<CResultRow>& group, size_t sr) {
                outside.count += group.size();
                ++outside.groups;
                CDuplicatesPrinter::Print(group, sr, Format(), m_out);
            });
        });
        stage.seconds = SecondsSince(start);
        m_stages.push_back(stage);
        if (References()) {
            *figures = kept.Figures();
            outside.seconds = stage.seconds;
            m_stages.push_back(outside);
        }
        return true;
    }

    // The size groups made during the walk, as rows for the content check; false when stopped.
    bool SizeRows(std::vector<CResultRow>& rows, Search::CStage& sizes)
    {
        const auto start = std::chrono::steady_clock::now();
        if (!m_groups.Finish())
            return false;
        m_prefetch.Finish();  // the check reads on its own from here
        rows.reserve(m_groups.Rows());
        m_groups.Drain([&rows](const std::vector<CResultRow>& batch, size_t, bool, bool) {
            rows.insert(rows.end(), batch.begin(), batch.end());
        });
        malloc_trim(0);  // what the walk and the sizes freed goes back before the check's own peak
        sizes = Search::CStage{"sharing a size", "files", rows.size(), Search::GroupCount(rows)};
        sizes.seconds = SecondsSince(start);
        return true;
    }

    // Size groups, then the content check over what survives them (and the folders over that).
    // True when the file figures follow.
    bool CompareContents(SelectionRules::CFigures* figures)
    {
        ContentCheck::CProgress progress;
        Search::CRequest request;
        request.contents = true;
        request.progress = &progress;
        request.useCache = COptionsStore().IsOn(Opt::UseCache);
        request.cache = m_cache.get();
        // The listing's paths outlive the rows, which point at them.
        request.files = CFillInput{[this] { return m_lister.m_arrFiles.GetSize(); },
                                   [this](int i) { return m_lister.m_arrFiles.At(i); }, true};
        request.folders = m_args.folders ? &m_tree : nullptr;
        Search::CResult found;
        {
            CWorkerThread meter;  // the bytes compared, on a terminal
            if (m_lister.m_showProgress)
                meter.Start([&progress](const std::atomic<bool>& stop) { Tick(stop, [&progress] { ShowCompareProgress(progress); }); });
            std::vector<CResultRow> rows;
            Search::CStage sizes;
            if (m_args.folders)
                found = Search::Run(request, g_stopFill);
            else if (SizeRows(rows, sizes))
                found = Search::RunFromSizes(request, std::move(rows), sizes, g_stopFill);
        }
        ClearProgressLine();
        m_stages.insert(m_stages.end(), found.stages.begin(), found.stages.end());
        if (!found.completed)
            return false;
        if (References())
            LeaveOutReferences(found);
        if (m_args.folders) {
            CDuplicatesPrinter::PrintFolders(found.folderRows, Format(), m_out);
            m_out.Flush();
            Status().Write(CDuplicatesPrinter::FoldersLine(found.folderRows) + QLatin1Char('\n'));
            Status().Flush();
            return false;  // said: no file figures follow
        }
        CDuplicatesPrinter::Print(found.rows.rows, 1, Format(), m_out);
        *figures = SelectionRules::Figures(found.rows.rows);
        return true;
    }

    bool References() const { return !m_plan.references.References().empty(); }

    // Groups wholly in reference folders offer nothing to remove; the stage after says what is left.
    void LeaveOutReferences(Search::CResult& found)
    {
        Search::CStage outside{kOutsideReferences, m_args.folders ? "folders" : "files", 0, 0};
        if (m_args.folders) {
            std::vector<FolderGroups::CFolderRow> kept;
            for (size_t first = 0, last; first < found.folderRows.size(); first = last) {
                bool any = false;
                for (last = first; last < found.folderRows.size() && found.folderRows[last].group == found.folderRows[first].group; ++last)
                    any = any || !m_plan.references.InReference(found.folderRows[last].path);
                if (!any)
                    continue;
                for (size_t i = first; i < last; ++i) {
                    kept.push_back(found.folderRows[i]);
                    kept.back().group = int32_t(outside.groups);
                }
                ++outside.groups;
            }
            found.folderRows.swap(kept);
            outside.count = found.folderRows.size();
        } else {
            CReferenceGroups::LeaveOut(found.rows.rows, m_plan.references);
            outside.count = found.rows.rows.size();
            outside.groups = Search::GroupCount(found.rows.rows);
        }
        m_stages.push_back(outside);
    }

    // One line per stage on standard error: what survived it.
    void WriteStats()
    {
        for (const QString& line : Search::StageLines(m_stages))
            m_err.Write(QStringLiteral("sorvane-cli: ") + line + QLatin1Char('\n'));
        m_err.Flush();
    }

    static constexpr const char* kOutsideReferences = "outside reference folders";

    const CArguments& m_args;
    const CFolderPlan m_plan;
    const CWalkOptions m_options;  // read once, so every folder is listed alike
    COutput m_out{STDOUT_FILENO};
    COutput m_err{STDERR_FILENO};
    CCliLister m_lister;
    FolderGroups::CTree m_tree;
    std::unique_ptr<CDigestCache> m_cache;  // loaded before the listing, which notes its files in it
    CHeadPrefetch m_prefetch;  // outlives the examining threads that offer to it
    CSizeGroups m_groups;
    std::vector<Search::CStage> m_stages;
};

}  // namespace

int main(int argc, char** argv)
{
    setlocale(LC_ALL, "");
    IgnoreWriteSignals();
    LimitMallocArenas();

    CArguments args;
    if (const int exit = ParseArguments(argc, argv, args); exit != kGoOn)
        return exit;
    if (args.linkKindGiven && !args.link)
        return UsageError(QStringLiteral("--link-kind only applies with --link"));
    if (args.guardGiven && !args.trash && !args.link)
        return UsageError(QStringLiteral("--protect and --allow-protected only apply with --trash or --link"));
    if (args.trash || args.restoreLast || args.link)
        return RunStandalone(args);
    if (const int exit = CheckListingArguments(args); exit != kGoOn)
        return exit;
    QString filterError;
    CWalkOptions options = CAppHelper::LoadOptions(&filterError);
    if (!filterError.isEmpty())
        return UsageError(filterError);
    CFolderPlan plan;
    if (const int exit = PlanListing(args, &plan); exit != kGoOn)
        return exit;
    return CListingRun(args, std::move(plan), std::move(options)).Run();
}
