#include "WorkerThread.h"

#include <algorithm>

void CThreadGroup::Start(int count, const CBody& body)
{
    StopAndJoin();
    m_stop.store(false);
    m_threads.reserve(m_threads.size() + size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        m_threads.emplace_back([this, body, i] { body(i, m_stop); });
}

void CThreadGroup::Join()
{
    const std::thread::id self = std::this_thread::get_id();
    std::vector<std::thread> left;
    for (std::thread& t : m_threads) {
        if (t.get_id() == self)
            left.push_back(std::move(t));
        else
            t.join();
    }
    m_threads.swap(left);
}
