#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

// Threads started together: each body is given its index and the group's
// stop flag. The destructor raises the flag and joins them all, so no thread
// outlives its owner or is left unjoined, even when an exception leaves the
// owner's scope or a later thread fails to start. The one place threads are
// started from.
class CThreadGroup {
public:
    using CBody = std::function<void(int index, const std::atomic<bool>& stop)>;

    CThreadGroup() = default;
    CThreadGroup(const CThreadGroup&) = delete;
    CThreadGroup& operator=(const CThreadGroup&) = delete;
    ~CThreadGroup() { StopAndJoin(); }

    // Stops and joins the threads of an earlier start, lowers the flag and
    // runs body on count new threads, indexes 0 to count - 1, each with its
    // own copy of body.
    void Start(int count, const CBody& body);
    void RequestStop() { m_stop.store(true); }
    // Waits for every body to return, except on one of the group's own
    // threads, which cannot join itself; the flag is left as it was.
    void Join();
    void StopAndJoin()
    {
        RequestStop();
        Join();
    }
    // Started and not joined yet, whether or not the bodies returned.
    bool Running() const { return !m_threads.empty(); }

private:
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

// One worker thread with its stop flag, joined by the destructor.
class CWorkerThread {
public:
    // Starts body on a new thread after stopping and joining the previous one.
    // body reads the stop flag it is given.
    void Start(std::function<void(const std::atomic<bool>& stop)> body)
    {
        m_thread.Start(1, [body = std::move(body)](int, const std::atomic<bool>& stop) { body(stop); });
    }
    void RequestStop() { m_thread.RequestStop(); }
    // Waits for the body to return; the stop flag is left as it was.
    void Join() { m_thread.Join(); }
    void StopAndJoin() { m_thread.StopAndJoin(); }
    bool IsRunning() const { return m_thread.Running(); }

private:
    CThreadGroup m_thread;
};
