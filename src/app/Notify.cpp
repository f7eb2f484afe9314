#include "app/Notify.h"

#include <atomic>

namespace vm {
namespace {
CNullSink g_nullSink;
std::atomic<INotifySink*> g_sink{&g_nullSink};
}  // namespace

INotifySink& Notifier() { return *g_sink.load(std::memory_order_acquire); }

void SetNotifier(INotifySink* sink) { g_sink.store(sink ? sink : &g_nullSink, std::memory_order_release); }

void CRecordingSink::Post(std::uint32_t code, std::uintptr_t w, std::intptr_t l) {
    std::lock_guard<std::mutex> g(Lock);
    Recorded.push_back({code, w, l, false});
}

std::intptr_t CRecordingSink::Send(std::uint32_t code, std::uintptr_t w, std::intptr_t l) {
    std::lock_guard<std::mutex> g(Lock);
    Recorded.push_back({code, w, l, true});
    return SendAnswer;
}

std::vector<CRecordingSink::Entry> CRecordingSink::Entries() const {
    std::lock_guard<std::mutex> g(Lock);
    return Recorded;
}

std::vector<CRecordingSink::Entry> CRecordingSink::EntriesWithCode(std::uint32_t code) const {
    std::lock_guard<std::mutex> g(Lock);
    std::vector<Entry> out;
    for (const auto& e : Recorded)
        if (e.code == code) out.push_back(e);
    return out;
}

void CRecordingSink::Clear() {
    std::lock_guard<std::mutex> g(Lock);
    Recorded.clear();
}

}  // namespace vm
