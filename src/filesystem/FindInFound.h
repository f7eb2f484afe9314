#pragma once
// Find among the found items of one drive: a name pattern (letters without case), a date range,
// a size and a deleted state, tested on a thread of its own while the analysis may still add
// items. Matches that the filter lets through are listed with the folder that holds them.
//
// The owner of the drive stops (and waits for) a running find before it clears the drive's
// found-items tree or lets the drive go: the results point into the tree.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filesystem/Filter.h"
#include "filesystem/FoundItem.h"

namespace vm {

class CVolume;

enum FindDateMode : std::int32_t {
    FIND_ANY_DATE = 0,    // "Don't remember"
    FIND_PAST_WEEK = 1,   // "In the past week"
    FIND_PAST_MONTH = 2,  // "In the past month" (28 days)
    FIND_PAST_YEAR = 3,   // "In the past year"
    FIND_DATES = 4,       // "Specify dates": FindFrom and FindTo as given
};

enum FindSizeMode : std::int32_t {
    FIND_ANY_SIZE = 0,  // "Don't remember"
    FIND_SMALL = 1,     // "Small (less than 100 KB)"
    FIND_MEDIUM = 2,    // "Medium (less than 1 MB)"
    FIND_LARGE = 3,     // "Large (greater than 1 MB)"
    FIND_SIZE = 4,      // "Specify size (in KB)": SizeCompare against CustomSize units
};

struct FindCriteria {
    std::string Pattern;  // UTF-8; empty finds every name
    std::int32_t DateMode = FIND_ANY_DATE;
    std::uint64_t FindFrom = 0;  // FILETIME bounds of CreateTime, both included
    std::uint64_t FindTo = ~std::uint64_t(0);
    std::int32_t SizeMode = FIND_ANY_SIZE;
    std::uint64_t SizeValue = 0;   // bytes
    std::int32_t SizeCompare = 0;  // -1 below SizeValue, 0 equal, 1 above
    std::int32_t CustomSize = 0;
    std::int32_t DeletedOnly = 1;
    std::int32_t IgnoreFolders = 1;

    // The date range of a mode: the past 7, 28 or 365 days up to `now` (a FILETIME, UTC) for
    // the past-week, -month and -year modes; FindFrom and FindTo are kept for FIND_DATES.
    void SetDateMode(std::int32_t mode, std::uint64_t now);
    // The size classes. Small, medium and large also leave folders out of the find.
    void SetSizeMode(std::int32_t mode);
    // FIND_SIZE: `count` units of `unitBytes` (1, 1024, 1 MiB or 1 GiB), compared by `compare`.
    void SetCustomSize(std::int32_t count, std::uint64_t unitBytes, std::int32_t compare);
};

struct FindResult {
    FoundItem* Item = nullptr;
    std::string Folder;  // "In Folder": the path of the folder that holds the item
};

class CFindInFound {
public:
    CFindInFound();
    ~CFindInFound();  // stops and waits for a running find
    CFindInFound(const CFindInFound&) = delete;
    CFindInFound& operator=(const CFindInFound&) = delete;

    // The item meets Criteria. A fault in one of the four tests is logged ("Filter.Except1" to
    // "Filter.Except4") and the other tests go on.
    bool IsMatch(const FoundItem& item) const;

    // Stops a find still running and waits for it, empties the results, and starts a find over
    // the drive's items with copies of Criteria and the filter, on a thread of lowest priority.
    // `finished` (optional) is called on that thread at the end with the number of results; it
    // must not wait for the thread that stops or starts finds.
    void Start(CVolume& volume, const CFilter& filter, std::function<void(std::size_t)> finished = {});
    // Tells a running find to stop after the item it is testing; does not wait.
    void Stop();
    // Waits until the find has ended (at once when none runs).
    void Wait();
    bool Running() const { return Busy.load(); }

    std::vector<FindResult> Results() const;

    FindCriteria Criteria;

private:
    void Walk(CVolume& volume, const FindCriteria& criteria, const CFilter& filter);

    std::thread Worker;
    std::atomic<bool> StopFlag{false};
    std::atomic<bool> Busy{false};
    mutable std::mutex ResultLock;
    std::vector<FindResult> Found;
};

// The test of IsMatch with given criteria.
bool MatchesFind(const FindCriteria& criteria, const FoundItem& item);

}  // namespace vm
