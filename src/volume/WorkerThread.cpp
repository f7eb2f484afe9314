#include "volume/WorkerThread.h"

namespace vm {
CWorkerThread::~CWorkerThread() {
    std::lock_guard<std::mutex> g(Lock);
    ReleaseLocked();
}

void CWorkerThread::ReleaseLocked() {
    if (!Thread.joinable()) return;
    bool ended = false;
    if (State) {
        std::lock_guard<std::mutex> d(State->Lock);
        ended = State->Ended;
    }
    // A drive whose last owner was its own worker is destroyed on that worker: never join oneself.
    if (ended && Thread.get_id() != std::this_thread::get_id()) {
        Thread.join();
        Id = {};
    } else {
        Thread.detach();
    }
}

void CWorkerThread::Start(std::function<void()> body) {
    std::lock_guard<std::mutex> g(Lock);
    ReleaseLocked();
    auto state = std::make_shared<Done>();
    state->Ended = false;
    State = state;
    Thread = std::thread([state, body = std::move(body)]() mutable {
        try {
            body();
        } catch (...) {
        }
        // Give back what the body shared before telling that it ended: whoever waits for the end
        // may then rely on the thread touching nothing of theirs any more.
        body = nullptr;
        {
            std::lock_guard<std::mutex> d(state->Lock);
            state->Ended = true;
        }
        state->Signal.notify_all();
    });
    Id = Thread.get_id();
}

bool CWorkerThread::Alive() const {
    std::shared_ptr<Done> state;
    {
        std::lock_guard<std::mutex> g(Lock);
        state = State;
    }
    if (!state) return false;
    std::lock_guard<std::mutex> d(state->Lock);
    return !state->Ended;
}

bool CWorkerThread::IsCurrent() const {
    std::lock_guard<std::mutex> g(Lock);
    return State && Id == std::this_thread::get_id();
}

bool CWorkerThread::WaitFor(std::chrono::milliseconds limit) {
    std::shared_ptr<Done> state;
    {
        std::lock_guard<std::mutex> g(Lock);
        state = State;
    }
    if (!state) return true;
    {
        std::unique_lock<std::mutex> d(state->Lock);
        if (!state->Signal.wait_for(d, limit, [&] { return state->Ended; })) return false;
    }
    std::lock_guard<std::mutex> g(Lock);
    if (State == state) ReleaseLocked();
    return true;
}

void CWorkerThread::Abandon() {
    std::lock_guard<std::mutex> g(Lock);
    if (Thread.joinable()) Thread.detach();
}

}  // namespace vm
