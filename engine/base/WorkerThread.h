#pragma once

#include <atomic>
#include <functional>
#include <thread>

// One worker thread with its stop flag. The destructor asks it to stop and
// joins it, so no worker outlives its owner or is left unjoined.
class CWorkerThread {
public:
    CWorkerThread() = default;
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;
    ~CWorkerThread() { StopAndJoin(); }

    // Starts body on a new thread after stopping and joining the previous one.
    // body reads the stop flag it is given.
    void Start(std::function<void(const std::atomic<bool>& stop)> body)
    {
        StopAndJoin();
        m_stop.store(false);
        m_thread = std::thread([this, body = std::move(body)] { body(m_stop); });
    }
    void RequestStop() { m_stop.store(true); }
    // Waits for the body to return; the stop flag is left as it was.
    void Join()
    {
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
            m_thread.join();
    }
    void StopAndJoin()
    {
        RequestStop();
        Join();
    }
    bool IsRunning() const { return m_thread.joinable(); }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
