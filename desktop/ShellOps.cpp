#include "ShellOps.h"

#include "BatchRun.h"
#include "Entry.h"
#include "FirstLines.h"

#include "AppTexts.h"
#include "PathArray.h"
#include "PropertiesDlg.h"
#include "Trash.h"
#include "TrashBatch.h"
#include "WaitCursor.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <optional>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kDBusTimeoutMs = 1500;


// The full path of program in PATH, looked up before any fork.
QByteArray FindProgram(const char* program)
{
    const char* path = std::getenv("PATH");
    for (const QByteArray& dir : QByteArray(path ? path : "/usr/bin:/bin").split(':')) {
        const QByteArray candidate = (dir.isEmpty() ? QByteArray(".") : dir) + "/" + program;
        if (access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Starts program with arguments as raw bytes, detached (no shell, no zombie),
// in folder when one is given.
bool SpawnDetached(const QByteArray& program, const QList<QByteArray>& args, const QByteArray& folder = {})
{
    std::vector<QByteArray> storage;
    storage.push_back(program);
    for (const QByteArray& a : args)
        storage.push_back(a);
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        // Only async-signal-safe calls from here: the parent has threads.
        // What the window ignores for itself, a started program must not inherit.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &byDefault, nullptr);
        sigaction(SIGXFSZ, &byDefault, nullptr);
        setsid();
        if (!folder.isEmpty() && chdir(folder.constData()) != 0)
            _exit(2);
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            execv(argv[0], argv.data());
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Asks the desktop's file manager over D-Bus; false when there is none to ask.
bool CallFileManager(const char* method, const QByteArray& path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QLatin1String(method));
    call << QStringList{FileUri(path)} << QString();
    return bus.call(call, QDBus::Block, kDBusTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

QByteArray ParentFolder(const QByteArray& path)
{
    const int slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

class CDesktopShell : public IShellOps {
public:
    bool OpenInShell(const QByteArray& path, QStringList* tried) override
    {
        return OpenWith(path, QUrl::fromEncoded(FileUri(path).toLatin1()), tried);
    }

    void ShowShellProperties(QWidget* parent, const QByteArray& path) override
    {
        if (CallFileManager("ShowItemProperties", path))
            return;
        auto* dialog = new CPropertiesDlg(parent, path);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    }

    bool SelectInExplorer(const QByteArray& path, QStringList* tried) override
    {
        struct stat st;
        if (lstat(path.constData(), &st) != 0)
            return true;
        if (CallFileManager("ShowItems", path))
            return true;
        *tried << QStringLiteral("the file manager (org.freedesktop.FileManager1)");
        return OpenInShell(ParentFolder(path), tried);
    }

    std::vector<QByteArray> SendToRecycleBin(QWidget* parent, const std::vector<QByteArray>& paths,
                                             const std::vector<CFileIdentity>& identities, const QString& caution,
                                             bool noByDefault) override
    {
        if (paths.empty())
            return {};
        // Mount points are matched by path here, for the question; each move checks its own again.
        const QByteArrayList mountPoints = MountPoints();
        QStringList mounts;
        for (const QByteArray& p : paths) {
            const QByteArray mount = MountPointBelow(p, mountPoints);
            if (!mount.isEmpty())
                mounts << QStringLiteral("%1 holds a mount point, %2, and stays where it is.")
                              .arg(EscapePath(std::string_view(p.constData(), size_t(p.size()))), EscapePath(mount.toStdString()));
        }
        QString cautions = caution;
        if (!mounts.isEmpty())
            cautions += (cautions.isEmpty() ? QString() : QStringLiteral("\n\n")) + FirstLines(mounts, 3);
        QMessageBox confirm(QMessageBox::Question, Res::AppTitle(),
                            (cautions.isEmpty() ? QString() : cautions + QStringLiteral("\n\n"))
                                + QStringLiteral("Move %1 item(s) to the Trash?").arg(paths.size()),
                            QMessageBox::Yes | QMessageBox::No, parent);
        confirm.setDefaultButton(noByDefault ? QMessageBox::No : QMessageBox::Yes);
        confirm.setEscapeButton(QMessageBox::No);
        QStringList names;
        for (const QByteArray& p : paths)
            names << EscapePath(std::string_view(p.constData(), size_t(p.size())));
        confirm.setInformativeText(FirstLines(names, 10));
        if (names.size() > 10)
            confirm.setDetailedText(names.join(QLatin1Char('\n')));
        if (confirm.exec() != QMessageBox::Yes)
            return {};

        // Off the UI thread, with Stop between items: every path is resolved first, once, and checked to
        // be what was listed; from then on each item is reached through its folder, still the one resolved.
        std::vector<CEntry> entries(paths.size());
        std::vector<QString> errors(paths.size());
        std::vector<char> wasMoved(paths.size(), 0);
        TrashBatch::CRecorder record;
        const bool stopped = RunBatch(parent, QStringLiteral("Moving %1 item(s) to the Trash…").arg(paths.size()), paths.size() * 2,
                                      [&](const std::atomic<bool>& stop, std::atomic<size_t>& done) {
            for (size_t i = 0; i < paths.size() && !stop; ++i, ++done) {
                const CFileIdentity listed = i < identities.size() ? identities[i] : CFileIdentity{};
                if (const int err = ResolveEntry(paths[i], listed, &entries[i]))
                    errors[i] = EntryErrorText(err);
            }
            for (size_t i = 0; i < paths.size() && !stop; ++i, ++done) {
                if (!errors[i].isEmpty())
                    continue;
                const COutcome outcome = MoveEntryToTrash(entries[i], nullptr, &record);
                wasMoved[i] = outcome.IsDone();
                errors[i] = outcome.Text();
            }
        });
        std::vector<QByteArray> moved;
        QStringList failures;
        for (size_t i = 0; i < paths.size(); ++i) {
            if (wasMoved[i])
                moved.push_back(paths[i]);
            else if (!errors[i].isEmpty())
                failures << QStringLiteral("%1: %2").arg(names[int(i)], errors[i]);
        }
        if (stopped)
            failures.prepend(QStringLiteral("Stopped: %1 of %2 item(s) were moved; the others stay where they are.")
                                 .arg(moved.size()).arg(paths.size()));
        QString recordError;
        const bool recorded = record.Finish(&recordError);
        if (!recorded)
            failures << QStringLiteral("Restore Last Trashed may miss some of these: %1").arg(recordError);
        if (!failures.isEmpty()) {
            QMessageBox box(QMessageBox::Warning, Res::AppTitle(),
                            stopped ? QStringLiteral("The move to the Trash was stopped.")
                            : moved.size() == paths.size()
                                ? QStringLiteral("The items were moved, but their record for Undo is incomplete.")
                                : QStringLiteral("%1 item(s) could not be moved to the Trash.").arg(paths.size() - moved.size()),
                            QMessageBox::Ok, parent);
            box.setInformativeText(failures.mid(0, 10).join(QLatin1Char('\n')));
            if (failures.size() > 10)
                box.setDetailedText(failures.join(QLatin1Char('\n')));
            box.exec();
        }
        return moved;
    }

    bool OpenTrash(QStringList* tried) override
    {
        return OpenWith("trash:///", QUrl(QStringLiteral("trash:///")), tried);
    }

    bool OpenTerminal(const QByteArray& folder, QStringList* tried) override
    {
        for (const QByteArrayList& candidate : TerminalCandidates()) {
            *tried << QString::fromLocal8Bit(candidate.join(' '));
            const QByteArray program = FindProgram(candidate.first().constData());
            if (!program.isEmpty() && SpawnDetached(program, candidate.mid(1), folder))
                return true;
        }
        return false;
    }

    bool OpenAsText(const QByteArray& file, QStringList* tried) override
    {
        const QByteArrayList args = TextEditorArguments(file);
        if (!args.isEmpty()) {
            const QByteArray program = args.first().contains('/') ? args.first() : FindProgram(args.first().constData());
            if (!program.isEmpty() && SpawnDetached(program, args.mid(1)))
                return true;
            *tried << QString::fromLocal8Bit(args.first()) + QStringLiteral(" (the default text editor)");
        }
        return OpenInShell(file, tried);
    }

private:
    // xdg-open with the argument as bytes, else Qt's own URL handlers.
    static bool OpenWith(const QByteArray& argument, const QUrl& url, QStringList* tried)
    {
        const QByteArray opener = FindProgram("xdg-open");
        if (!opener.isEmpty() && SpawnDetached(opener, {argument}))
            return true;
        *tried << (opener.isEmpty() ? QStringLiteral("xdg-open (not installed)") : QStringLiteral("xdg-open"));
        if (QDesktopServices::openUrl(url))
            return true;
        *tried << QStringLiteral("the desktop's URL handler");
        return false;
    }

    // The default text/plain application's command line for file, from its desktop entry.
    static QByteArrayList TextEditorArguments(const QByteArray& file)
    {
        QProcess query;
        query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/plain")});
        if (!query.waitForFinished(3000) || query.exitCode() != 0)
            return {};
        const QString id = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
        if (id.isEmpty() || id.contains(QLatin1Char('/')))
            return {};
        QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
        for (const QString& dir : dirs) {
            QFile entry(dir + QLatin1Char('/') + id);
            if (!entry.open(QIODevice::ReadOnly))
                continue;
            bool inEntry = false;
            while (!entry.atEnd()) {
                const QByteArray line = entry.readLine().trimmed();
                if (line.startsWith('['))
                    inEntry = line == "[Desktop Entry]";
                else if (inEntry && line.startsWith("Exec="))
                    return DesktopExecArguments(line.mid(5), file);
            }
        }
        return {};
    }
};

IShellOps* g_shell = nullptr;

}  // namespace

IShellOps& Shell()
{
    static CDesktopShell desktop;
    return g_shell ? *g_shell : desktop;
}

IShellOps* SetShell(IShellOps* ops)
{
    IShellOps* previous = g_shell;
    g_shell = ops;
    return previous;
}

QList<QByteArrayList> TerminalCandidates()
{
    QList<QByteArrayList> list;
    const QByteArray fromEnv = qgetenv("TERMINAL").simplified();
    if (!fromEnv.isEmpty())
        list << fromEnv.split(' ');
    for (const char* name : {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal", "mate-terminal",
                             "lxterminal", "qterminal", "tilix", "terminator", "alacritty", "kitty", "foot", "xterm"})
        list << QByteArrayList{name};
    return list;
}

QByteArrayList DesktopExecArguments(const QByteArray& exec, const QByteArray& file)
{
    // Split as the desktop entry rules say: blanks separate, double quotes group
    // with backslash escapes inside; then fill in the field codes.
    QByteArrayList args;
    QByteArray current;
    bool quoted = false;
    bool any = false;
    for (int i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted && c == '\\' && i + 1 < exec.size()) {
            current += exec[++i];
        } else if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (any || !current.isEmpty())
                args << current;
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.isEmpty())
        args << current;

    QByteArrayList out;
    bool fileGiven = false;
    for (const QByteArray& arg : args) {
        if (arg == "%f" || arg == "%F" || arg == "%u" || arg == "%U") {
            out << (arg.endsWith('u') || arg.endsWith('U') ? FileUri(file).toLatin1() : file);
            fileGiven = true;
            continue;
        }
        if (arg.size() == 2 && arg[0] == '%' && arg[1] != '%')
            continue;  // %i, %c, %k and the deprecated codes
        QByteArray filled = arg;
        filled.replace("%%", "%");
        out << filled;
    }
    if (!out.isEmpty() && !fileGiven)
        out << file;
    return out;
}

QString FileUri(const QByteArray& path)
{
    return QStringLiteral("file://") + QString::fromLatin1(path.toPercentEncoding("/"));
}

void ReportNotOpened(QWidget* parent, const QString& what, const QStringList& tried)
{
    QMessageBox box(QMessageBox::Warning, Res::AppTitle(), QStringLiteral("%1 could not be opened.").arg(what),
                    QMessageBox::Ok, parent);
    box.setInformativeText(QStringLiteral("Tried: %1.").arg(tried.join(QStringLiteral(", "))));
    box.exec();
}

bool RestoreLastTrashed(QWidget* parent)
{
    TrashBatch::CRestoreResult result;
    {
        CWaitCursor wait;
        result = TrashBatch::RestoreLast();
    }
    const std::vector<TrashBatch::CRestoreOutcome>& outcomes = result.outcomes;
    if (outcomes.empty()) {
        if (result.recordError.isEmpty())
            QMessageBox::information(parent, Res::AppTitle(), QStringLiteral("There is nothing to restore."));
        else
            QMessageBox::warning(parent, Res::AppTitle(), QStringLiteral("Nothing was restored: %1.").arg(result.recordError));
        return false;
    }
    QStringList lines;
    int restored = 0;
    for (const TrashBatch::CRestoreOutcome& o : outcomes) {
        const QString name = EscapePath(std::string_view(o.original.constData(), size_t(o.original.size())));
        restored += o.Restored() ? 1 : 0;
        lines << (o.Restored() ? QStringLiteral("Restored: %1").arg(name) : QStringLiteral("Not restored: %1: %2").arg(name, o.Reason()));
    }
    if (!result.recordError.isEmpty())
        lines.prepend(QStringLiteral("Note: %1.").arg(result.recordError));
    QMessageBox box(restored == int(outcomes.size()) ? QMessageBox::Information : QMessageBox::Warning, Res::AppTitle(),
                    QStringLiteral("%1 of %2 item(s) restored from the Trash.").arg(restored).arg(outcomes.size()),
                    QMessageBox::Ok, parent);
    box.setInformativeText(FirstLines(lines, 10));
    if (lines.size() > 10)
        box.setDetailedText(lines.join(QLatin1Char('\n')));
    box.exec();
    return restored > 0;
}
