#pragma once
// What a drive shares with the drive list that holds it: the progress record and a guarded way
// back to the list. A worker holds its drive and the drive holds this, so a worker that was given
// up after a stop still reaches a live progress record, and finds the list gone (rather than
// dangling) when the list was destroyed before the worker ended.
#include <memory>
#include <mutex>

#include "volume/ProgressBlock.h"

namespace vm {

class CLocalComputer;

class CDriveContext {
public:
    explicit CDriveContext(std::shared_ptr<ProgressBlock> progress, CLocalComputer* owner = nullptr)
        : Block(std::move(progress)), Owner(owner) {}

    ProgressBlock& Progress() const { return *Block; }

    // Runs f(list) while the list cannot go away; false when there is no list (any more).
    // f must not wait for a window: the list's destructor waits for this lock.
    template <typename F>
    bool WithOwner(F&& f) {
        std::lock_guard<std::recursive_mutex> g(Lock);
        if (!Owner) return false;
        f(*Owner);
        return true;
    }
    // The list is going away: later WithOwner calls find none.
    void Detach() {
        std::lock_guard<std::recursive_mutex> g(Lock);
        Owner = nullptr;
    }

private:
    std::shared_ptr<ProgressBlock> Block;
    std::recursive_mutex Lock;
    CLocalComputer* Owner;
};

// The context of drives that belong to no list (a drive made on its own, as tests do).
std::shared_ptr<CDriveContext> StandaloneDriveContext();

}  // namespace vm
