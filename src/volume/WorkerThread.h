#pragma once
// A thread that runs one body and can be waited for with a time-out. Threads cannot be killed
// safely, so a thread that does not stop in time is let go (detached) instead: its body must
// share ownership of everything it touches, which the drive's workers do by holding their drive.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vm {

class CWorkerThread {
public:
    CWorkerThread() = default;
    // Joins a thread that has ended; lets one that still runs go on by itself.
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts body on a new thread. A previous thread that has ended is joined first; one that
    // still runs is let go.
    void Start(std::function<void()> body);
    // Started and its body has not returned yet.
    bool Alive() const;
    // The caller is this thread.
    bool IsCurrent() const;
    // Waits until the body has returned, at most `limit`, and joins the thread then. True when
    // no thread is left running.
    bool WaitFor(std::chrono::milliseconds limit);
    // Lets a thread that did not stop go on by itself.
    void Abandon();

private:
    struct Done {
        std::mutex Lock;
        std::condition_variable Signal;
        bool Ended = true;
    };
    void ReleaseLocked();

    mutable std::mutex Lock;
    std::thread Thread;
    std::thread::id Id;
    std::shared_ptr<Done> State;
};

}  // namespace vm
