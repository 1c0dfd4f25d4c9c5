// sorvane-cli: lists a folder tree exactly as the Sorvane window does.

#include "CliLister.h"
#include "ListingStatus.h"
#include "ResultsFill.h"
#include "AppTexts.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include "StopSignals.h"
#include "WorkerThread.h"

#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitOutput = 1;
constexpr int kExitInterrupted = 130;

std::atomic<int>* g_listingFlag = nullptr;
std::atomic<bool> g_stopFill{false};
volatile sig_atomic_t g_interrupts = 0;

void OnInterrupt(int)
{
    // First signal: stop the walk as the Stop command does; second: leave now.
    if (++g_interrupts > 1)
        _exit(kExitInterrupted);
    if (g_listingFlag)
        g_listingFlag->store(0, std::memory_order_relaxed);
    g_stopFill.store(true, std::memory_order_relaxed);
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

void PrintHelp()
{
    QString names;
    for (const COptionDef* def : Opt::kFlags)
        names += QStringLiteral("  %1 (default %2)\n").arg(QLatin1String(def->name)).arg(def->defaultValue);
    const QString text = QStringLiteral(
        "Usage: sorvane-cli [--set NAME=VALUE]... [--files [-0] | --duplicates] FOLDER\n"
        "\n"
        "Lists every file beneath FOLDER with the same skip rules and options as the\n"
        "%1 window, and prints the listing's status lines.\n"
        "\n"
        "Options:\n"
        "  --set NAME=VALUE  use VALUE for the setting NAME for this run only (never\n"
        "                    stored); may be given many times\n"
        "  --files           print the full path of every listed file to standard\n"
        "                    output, one per line, in listing order, byte for byte;\n"
        "                    the status lines then go to standard error\n"
        "  -0                with --files, end each path with a NUL byte instead of a\n"
        "                    newline\n"
        "  --duplicates      after the listing, group the listed files by size as the\n"
        "                    results window does and print one line per file in a\n"
        "                    group, largest size first, tab-separated: Sr, file name,\n"
        "                    folder (ending in '/'), size in bytes (empty when the file\n"
        "                    could not be opened), last modified, group index; names\n"
        "                    byte for byte. The status lines then go to standard error\n"
        "  --help            show this help and exit\n"
        "  --                end of options (for a FOLDER starting with '-')\n"
        "\n"
        "Options are read from the same settings as the window\n"
        "(~/.config/%2/%1.conf, group [Settings]). Settings for --set:\n"
        "%3"
        "  the column widths (\"0 Column 0\" ... \"Results Column 4\") take numbers,\n"
        "  LastFolderSelected and InfoBarText take any text.\n"
        "A value other than 0 turns an option on.\n"
        "\n"
        "Only regular files are listed. Symbolic links are neither listed nor\n"
        "followed (FOLDER itself may be one); hidden means a name starting with '.',\n"
        "read-only means the owner's write permission is off.\n"
        "\n"
        "While it runs with standard error on a terminal, a progress line shows the\n"
        "files found so far and the current folder. Ctrl-C stops the listing as the\n"
        "window's Stop does (the folder being read is finished, no new folder is\n"
        "entered) and prints the summary; a second Ctrl-C quits at once. Ctrl-C during\n"
        "the grouping stops it and prints no groups.\n"
        "\n"
        "Exit status: 0 listed; 1 output could not be written; 2 usage error or\n"
        "FOLDER is not a folder; 130 stopped by Ctrl-C (the summary is printed).\n")
        .arg(Res::AppTitle(), QString::fromUtf8(Res::kOrganisation), names);
    COutput out(STDOUT_FILENO);
    out.Write(text);
}

// Absolute, without "." components, doubled or trailing slashes; ".." is
// kept because it may cross a symbolic link.
std::string NormalisePath(const char* arg)
{
    std::string in;
    if (arg[0] != '/') {
        std::vector<char> cwd(4096);
        while (!getcwd(cwd.data(), cwd.size()) && errno == ERANGE)
            cwd.resize(cwd.size() * 2);
        in = cwd.data();
        in += '/';
    }
    in += arg;
    std::string out;
    size_t i = 0;
    while (i < in.size()) {
        while (i < in.size() && in[i] == '/')
            ++i;
        const size_t end = std::min(in.find('/', i), in.size());
        const std::string_view part(in.data() + i, end - i);
        if (!part.empty() && part != ".") {
            out += '/';
            out.append(part);
        }
        i = end;
    }
    return out.empty() ? "/" : out;
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

}  // namespace

int main(int argc, char** argv)
{
    setlocale(LC_ALL, "");

    bool printFiles = false;
    bool nulSeparated = false;
    bool duplicates = false;
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
            } else if (!std::strcmp(a, "--files")) {
                printFiles = true;
            } else if (!std::strcmp(a, "--duplicates")) {
                duplicates = true;
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
        if (folderArg)
            return UsageError(QStringLiteral("only one FOLDER may be given"));
        folderArg = a;
    }
    if (!folderArg)
        return UsageError(QStringLiteral("no FOLDER given"));
    if (nulSeparated && !printFiles)
        return UsageError(QStringLiteral("-0 only applies with --files"));
    if (duplicates && printFiles)
        return UsageError(QStringLiteral("--files and --duplicates cannot be used together"));

    const std::string folder = NormalisePath(folderArg);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0)
        return UsageError(QStringLiteral("cannot list '%1': %2")
                              .arg(QFile::decodeName(folderArg), QString::fromLocal8Bit(std::strerror(errno))));
    if (!S_ISDIR(st.st_mode))
        return UsageError(QStringLiteral("cannot list '%1': not a folder").arg(QFile::decodeName(folderArg)));

    COutput out(STDOUT_FILENO);
    COutput err(STDERR_FILENO);
    COutput& status = printFiles || duplicates ? err : out;

    CCliLister lister;
    lister.m_fileOutput = printFiles ? &out : nullptr;
    lister.m_separator = nulSeparated ? '\0' : '\n';
    lister.m_showProgress = isatty(STDERR_FILENO);

    g_listingFlag = &lister.m_bListing;
    HandleStopSignals(OnInterrupt);

    const QString shownFolder = QFile::decodeName(QByteArray::fromStdString(folder));
    lister.m_bListing.store(1);
    lister.PrepareListing();
    status.Write(ListingStatus::StartedText(shownFolder, lister) + QLatin1Char('\n'));
    status.Flush();
    lister.m_strRootFolder = QByteArray::fromStdString(folder);
    {
        // Raises the progress flag ten times a second while the walk runs.
        CWorkerThread ticker;
        if (lister.m_showProgress) {
            ticker.Start([&lister](const std::atomic<bool>& stop) {
                for (int tick = 1; !stop.load(); ++tick) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    if (tick % 10 == 0)
                        lister.m_progressDue.store(true, std::memory_order_relaxed);
                }
            });
        }
        lister.StartListing();
    }
    if (lister.m_showProgress) {
        [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, "\r\x1b[K", 4);
    }
    out.Flush();

    const ListingStatus::CSummary summary = ListingStatus::Finished(
        lister, lister.m_bViewFilesCount ? lister.FoldersWithFiles() : -1, lister.m_arrFiles.GetSize());
    for (const QString& row : summary.rows)
        status.Write(row + QLatin1Char('\n'));
    status.Flush();
    g_listingFlag = nullptr;

    if (duplicates && !g_interrupts) {
        CFillInput input{[&lister] { return lister.m_arrFiles.GetSize(); },
                         [&lister](int i) { return lister.m_arrFiles.At(i); }};
        CFillResult result;
        if (RunResultsFill(input, result, g_stopFill)) {
            std::string line;
            int64_t lastModified = -1;
            std::string modifiedText;
            for (const CResultRow& row : result.rows) {
                // Neighbouring rows often share a time: format each distinct one once.
                if (!row.hasModified) {
                    modifiedText.clear();
                    lastModified = -1;
                } else if (row.modified != lastModified) {
                    modifiedText = row.ModifiedBytes();
                    lastModified = row.modified;
                }
                line = std::to_string(row.sr);
                ((line += '\t') += row.Name()) += '\t';
                (line += row.FolderWithSlash()) += '\t';
                if (row.opened)
                    line += std::to_string(row.sizeKey);
                (((line += '\t') += modifiedText) += '\t') += std::to_string(row.group);
                line += '\n';
                out.Write(line);
            }
        }
        out.Flush();
    }

    if (out.Error()) {
        PrintError(QStringLiteral("cannot write the output: %1").arg(QString::fromLocal8Bit(std::strerror(out.Error()))));
        return kExitOutput;
    }
    return g_interrupts ? kExitInterrupted : 0;
}
