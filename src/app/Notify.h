#pragma once
// The one way engine workers reach a window: a notification with the message code and its two
// parameters. The desktop front end queues each notification onto its window thread; the command
// line prints what it cares about. Codes keep their window-message values so that the behaviour
// can be followed message by message.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vm {

constexpr std::uint32_t WM_APP = 0x8000;

namespace msg {
constexpr std::uint32_t LogLine = WM_APP + 0x69;           // wParam: const std::string* of the stored line
constexpr std::uint32_t StatusText = WM_APP + 0x6A;        // sent; wParam: string id
constexpr std::uint32_t FileSystemPhaseEnded = WM_APP + 0x6B;
constexpr std::uint32_t SectorPhaseEnded = WM_APP + 0x6C;
constexpr std::uint32_t FrameArranged = WM_APP + 0x6E;
constexpr std::uint32_t AnalysisEnded = WM_APP + 0x6F;     // wParam: CVolume*
constexpr std::uint32_t SearchWake = WM_APP + 0xD4;
constexpr std::uint32_t ImageBlockWritten = WM_APP + 0xD5;
constexpr std::uint32_t ImageCreateFailed = WM_APP + 0xD6;  // lParam: errno
constexpr std::uint32_t ImageThreadEnded = WM_APP + 0xD7;
constexpr std::uint32_t StartRecovery = WM_APP + 0x131;
// Sent by a recovery thread whose destination lies on the drive it reads; wParam: std::string*
// of the folder, which the receiver may replace with another one the user picked; lParam: the
// warning text (const char*). Answer 1 to check the folder again, 0 to give up the run.
constexpr std::uint32_t ConfirmDestinationFolder = WM_APP + 0x133;
// Sent by a recovery thread for a lost file of unknown size; wParam: ProbableSizeQuestion*.
// Answer a ProbableSizeAnswer.
constexpr std::uint32_t AskProbableSize = WM_APP + 0x134;
constexpr std::uint32_t ToggleCheck = WM_APP + 0x138;
constexpr std::uint32_t RangeMoved = WM_APP + 0x13E;
constexpr std::uint32_t FindStart = WM_APP + 315;
constexpr std::uint32_t DataInfoRefresh = WM_APP + 321;
constexpr std::uint32_t FoundTreeChanged = WM_APP + 500;  // wParam: FoundItem*, lParam: change code
constexpr std::uint32_t FoundVolumeAdded = WM_APP + 0x1F6;  // wParam: CVolume*
constexpr std::uint32_t LanguageChanged = WM_APP + 0x1F7;
constexpr std::uint32_t DrivesChanged = WM_APP + 0x1FA;
// Sent: show a message box with an OK button and no owner window; wParam: const MessageBoxText*.
constexpr std::uint32_t ShowMessageBox = WM_APP + 0x1FC;
}  // namespace msg

struct MessageBoxText {
    std::string Text;
    std::string Caption;
};

class INotifySink {
public:
    virtual ~INotifySink() = default;
    // Queued: returns at once, the receiver handles it later on its own thread.
    virtual void Post(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Blocks until the receiver has handled it and returns its answer.
    virtual std::intptr_t Send(std::uint32_t code, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

// Answers nothing and drops every notification: the sink while no front end is attached.
class CNullSink final : public INotifySink {
public:
    void Post(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    std::intptr_t Send(std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
};

// Keeps every notification, for tests; Send answers `SendAnswer`.
class CRecordingSink final : public INotifySink {
public:
    struct Entry {
        std::uint32_t code;
        std::uintptr_t wParam;
        std::intptr_t lParam;
        bool sent;
    };
    void Post(std::uint32_t code, std::uintptr_t w, std::intptr_t l) override;
    std::intptr_t Send(std::uint32_t code, std::uintptr_t w, std::intptr_t l) override;
    std::vector<Entry> Entries() const;
    std::vector<Entry> EntriesWithCode(std::uint32_t code) const;
    void Clear();
    std::intptr_t SendAnswer = 0;

private:
    mutable std::mutex Lock;
    std::vector<Entry> Recorded;
};

// The process-wide sink, owned by the application object; a null sink until one is set.
INotifySink& Notifier();
void SetNotifier(INotifySink* sink);

}  // namespace vm
