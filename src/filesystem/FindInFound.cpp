#include "filesystem/FindInFound.h"
#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "app/Log.h"
#include "filesystem/Wildcard.h"
#include "volume/Volume.h"

namespace vm {
namespace {

constexpr std::uint64_t kDay = 24ULL * 3600 * 10000000;  // FILETIME units

// Runs one test of the find; a fault is logged under the test's number and counts as passed,
// so the other tests decide.
template <typename Test>
bool Guarded(int step, Test&& test) {
    try {
        return test();
    } catch (...) {
        Log().Notice(Format("Filter.Except%d", step));
        return true;
    }
}

bool IsFolder(const FoundItem& item) { return item.Is(FI_FOLDER) || item.Is(FI_DRIVE); }


}  // namespace

void FindCriteria::SetDateMode(std::int32_t mode, std::uint64_t now) {
    DateMode = mode;
    const std::uint64_t days = mode == FIND_PAST_WEEK ? 7 : mode == FIND_PAST_MONTH ? 28 : mode == FIND_PAST_YEAR ? 365 : 0;
    if (!days) return;
    FindTo = now;
    FindFrom = now > days * kDay ? now - days * kDay : 0;
}

void FindCriteria::SetSizeMode(std::int32_t mode) {
    SizeMode = mode;
    switch (mode) {
    case FIND_SMALL: SizeValue = 102400; SizeCompare = -1; break;
    case FIND_MEDIUM: SizeValue = 1048576; SizeCompare = -1; break;
    case FIND_LARGE: SizeValue = 1048576; SizeCompare = 1; break;
    case FIND_SIZE: return;
    default: SizeValue = 0; return;
    }
    IgnoreFolders = 1;
}

void FindCriteria::SetCustomSize(std::int32_t count, std::uint64_t unitBytes, std::int32_t compare) {
    SizeMode = FIND_SIZE;
    CustomSize = count;
    SizeValue = std::uint64_t(count < 0 ? 0 : count) * unitBytes;
    SizeCompare = compare < 0 ? -1 : compare > 0 ? 1 : 0;
}

bool MatchesFind(const FindCriteria& c, const FoundItem& item) {
    if (!Guarded(1, [&] { return !(c.DeletedOnly && !item.Is(FI_DELETED)) && !(c.IgnoreFolders && IsFolder(item)); }))
        return false;
    const std::string_view pattern = c.Pattern.empty() ? std::string_view("*") : std::string_view(c.Pattern);
    if (!Guarded(2, [&] { return WildcardMatch(pattern, item.NameOrEmpty(), WildcardCase::Caseless); })) return false;
    if (!Guarded(3, [&] {
            return c.DateMode == FIND_ANY_DATE || (item.CreateTime >= c.FindFrom && item.CreateTime <= c.FindTo);
        }))
        return false;
    return Guarded(4, [&] {
        if (c.SizeMode == FIND_ANY_SIZE || IsFolder(item) || !item.SizeKnown()) return true;
        if (c.SizeCompare < 0) return item.Size < c.SizeValue;
        if (c.SizeCompare > 0) return item.Size > c.SizeValue;
        return item.Size == c.SizeValue;
    });
}

CFindInFound::CFindInFound() = default;

CFindInFound::~CFindInFound() {
    Stop();
    Wait();
}

bool CFindInFound::IsMatch(const FoundItem& item) const { return MatchesFind(Criteria, item); }

void CFindInFound::Start(CVolume& volume, const CFilter& filter, std::function<void(std::size_t)> finished) {
    Stop();
    Wait();
    {
        std::lock_guard g(ResultLock);
        Found.clear();
    }
    StopFlag = false;
    Busy = true;
    try {
        Worker = std::thread([this, &volume, criteria = Criteria, filter, finished] {
            LowerThreadPriority();
            Walk(volume, criteria, filter);
            const std::size_t count = Results().size();
            Busy = false;
            if (finished) finished(count);
        });
    } catch (...) {
        Busy = false;
        Log().Error("CFindInFound::Start: can't start the search thread");
        if (finished) finished(0);
    }
}

void CFindInFound::Stop() { StopFlag = true; }

void CFindInFound::Wait() {
    if (Worker.joinable()) Worker.join();
}

std::vector<FindResult> CFindInFound::Results() const {
    std::lock_guard g(ResultLock);
    return Found;
}

void CFindInFound::Walk(CVolume& volume, const FindCriteria& criteria, const CFilter& filter) {
    // The items filed when the find starts; the analysis may add more meanwhile. Each item is
    // read under the tree's lock, since the analysis may still change its flags and size.
    std::vector<FoundItem*> items;
    volume.FoundTree.Snapshot(items);
    for (FoundItem* item : items) {
        if (StopFlag) break;
        FindResult result;
        {
            std::lock_guard g(volume.FoundTree.Mutex());
            const FoundItem copy = *item;
            if (copy.SignedId() < 0 || copy.Is(FI_DRIVE)) continue;
            if (!MatchesFind(criteria, copy) || filter.Rejects(copy)) continue;
            result.Item = item;
            volume.GetItemPath(copy, result.Folder);
        }
        std::lock_guard g(ResultLock);
        Found.push_back(std::move(result));
    }
}

}  // namespace vm
