#include "CliLister.h"

#include "WriteAll.h"

#include <QFile>

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

void COutput::Write(std::string_view bytes)
{
    if (m_buffer.size() + bytes.size() > kSize && !Flush())
        return;
    if (bytes.size() > kSize) {
        m_buffer.assign(bytes);
        Flush();
        return;
    }
    m_buffer.append(bytes);
}

bool COutput::Flush()
{
    if (m_error == 0)
        m_error = WriteAll(m_fd, m_buffer.data(), m_buffer.size(), -1, m_giveUp);
    m_buffer.clear();
    return m_error == 0 && !GivenUp();
}

void CCliLister::OnFileFound(const CFileFind& finder)
{
    m_arrFiles.Add(finder.FilePath());
    if (m_tree)
        m_tree->AddFile(finder.FilePath());
    if (m_groups)
        m_groups->Listed(m_arrFiles.GetSize());
    if (m_fileOutput) {
        m_fileOutput->Write(finder.FilePath());
        m_fileOutput->Write(std::string_view(&m_separator, 1));
        // A broken output ends the run: nothing more can be delivered.
        if (m_fileOutput->Error() && m_stopWalk)
            m_stopWalk->store(true, std::memory_order_relaxed);
    }
    // Each folder is walked once, so its first file marks a new one.
    if (m_helper.Options().m_bViewFilesCount && finder.IsFirstInFolder())
        ++m_foldersWithFiles;
    if (m_showProgress && m_progressDue.load(std::memory_order_relaxed)) {
        m_progressDue.store(false, std::memory_order_relaxed);
        ShowProgress(finder.Folder());
    }
}

void CCliLister::ShowProgress(std::string_view folder)
{
    winsize ws{};
    const int columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 ? ws.ws_col : 80;
    QString text = QStringLiteral("%1 file(s)  ").arg(m_arrFiles.GetSize());
    QString where = DecodePath(folder);
    for (QChar& c : where) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char('?');
    }
    const int room = columns - 1 - static_cast<int>(text.size());
    if (room > 1 && where.size() > room)
        where = QStringLiteral("…") + where.right(room - 1);
    else if (room <= 1)
        where.clear();
    const QByteArray line = "\r\x1b[K" + (text + where).toUtf8();
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.constData(), static_cast<size_t>(line.size()));
}

// Absolute, without ".", "..", doubled or trailing slashes. ".." leads to the
// parent of where the path before it really is, as the kernel takes it, so
// that part is resolved, links and all, first. A path without ".." is not
// resolved: a link given as FOLDER stays in the printed paths. False, with
// what failed in *failed and errno in *error, when it cannot be made.
bool NormalisePath(const char* arg, std::string* out, const char** failed, int* error)
{
    std::string in;
    if (arg[0] != '/') {
        std::vector<char> cwd(4096);
        while (!getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE) {
                *failed = "the working directory cannot be found";
                *error = errno;
                return false;
            }
            cwd.resize(cwd.size() * 2);
        }
        in = cwd.data();
        in += '/';
    }
    in += arg;
    out->clear();
    size_t i = 0;
    while (i < in.size()) {
        while (i < in.size() && in[i] == '/')
            ++i;
        const size_t end = std::min(in.find('/', i), in.size());
        const std::string_view part(in.data() + i, end - i);
        i = end;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!out->empty()) {
                char* real = realpath(out->c_str(), nullptr);
                if (!real) {
                    *failed = nullptr;
                    *error = errno;
                    return false;
                }
                out->assign(real);
                std::free(real);
            }
            out->resize(std::min(out->size(), out->rfind('/')));  // "/" has no parent but itself
            continue;
        }
        *out += '/';
        out->append(part);
    }
    if (out->empty())
        *out = "/";
    return true;
}
