#pragma once
// The one record through which analysis and recovery workers report progress and are stopped.
// The window clears `Running` (or `RecoveryRunning`) to stop a worker; workers test it between
// units of work. Every field is atomic: the window reads while the workers write.
#include <atomic>
#include <cstdint>

namespace vm {

class CLocalComputer;
class CVolume;

struct ProgressBlock {
    std::atomic<std::int32_t> Running{0};
    std::atomic<std::int64_t> Total{0};    // in the current phase's own unit
    std::atomic<std::int64_t> Current{0};
    std::atomic<std::int64_t> SearchStart{0};
    std::atomic<std::int32_t> RecoveryRunning{0};
    std::atomic<CLocalComputer*> pOwner{nullptr};
    std::atomic<CVolume*> pVolume{nullptr};
    // Number of the run that `Running` belongs to; each start takes a new one, so a worker that
    // was given up and ends late cannot end or continue a later run.
    std::atomic<std::uint64_t> RunId{0};

    // Current as a whole percentage of Total, 0..100; 0 while no total is known.
    int Percent() const;
    // True while the run with that number is active.
    bool IsRunning(std::uint64_t runId) const { return Running.load() == 1 && RunId.load() == runId; }
};

}  // namespace vm
