#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Cancels the statement that is executing (LibQuery::cancelRunning()) once a time is up, unless it
// is destroyed first. The statement then ends with EInterrupted, and fired() tells why.
class CancelTimer
{
public:
    // seconds <= 0: never fires.
    explicit CancelTimer(int seconds);
    ~CancelTimer();
    CancelTimer(const CancelTimer &) = delete;
    CancelTimer &operator=(const CancelTimer &) = delete;

    bool fired() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_fired = false;
    std::thread m_thread;
};
