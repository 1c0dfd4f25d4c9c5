#pragma once

// Running sorvane-cli from a test: whole runs, and runs that a test signals or kills midway.
#include "TestSupport.h"

#include <QFile>
#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

struct CRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline CRun Run(const QStringList& args, const QString& workingDirectory = QString())
{
    QProcess p;
    p.setWorkingDirectory(workingDirectory);
    p.start(QStringLiteral(SORVANE_CLI), args);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// Starts the command line with stdout on fd and stderr in errFile, with the
// signals' default actions whatever this process does with them. Returns the
// pid; Wait gives the exit status, or 1000 + the signal that ended it.
inline pid_t Spawn(const QStringList& args, int fd, const QByteArray& errFile)
{
    QByteArrayList bytes = {QByteArray(SORVANE_CLI)};
    for (const QString& a : args)
        bytes << QFile::encodeName(a);
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attr, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return pid;
}

inline int Wait(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// Runs the command line with its output on a pipe that is read until it printed lines lines (and,
// after settleMs, nothing more: the pipe fills and the run waits), then kills it with SIGKILL.
// Returns all it printed; *status as Wait gives it.
inline QByteArray KillAfterLines(const QStringList& args, const QByteArray& errFile, int lines, int settleMs, int* status)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = Spawn(args, fds[1], errFile);
    close(fds[1]);
    QByteArray printed;
    char buffer[4096];
    while (printed.count('\n') < lines) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        printed.append(buffer, n);
    }
    if (settleMs > 0)
        usleep(useconds_t(settleMs) * 1000);
    kill(pid, SIGKILL);
    *status = Wait(pid);
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        printed.append(buffer, n);
    close(fds[0]);
    return printed;
}
