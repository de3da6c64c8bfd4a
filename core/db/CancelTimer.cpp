#include "db/CancelTimer.h"

#include "db/LibQuery.h"

#include <chrono>

CancelTimer::CancelTimer(int seconds)
{
    if (seconds <= 0)
        return;
    m_thread = std::thread([this, seconds] {
        std::unique_lock lock(m_lock);
        if (m_wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stop; }))
            return;
        m_fired = true;
        lock.unlock();
        LibQuery::cancelRunning();
    });
}

CancelTimer::~CancelTimer()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool CancelTimer::fired() const
{
    std::lock_guard lock(m_lock);
    return m_fired;
}
