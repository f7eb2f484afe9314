#pragma once
// A recovery job: copies found files out of a drive into a folder on another drive, recreating
// each file's folder path, settling the size of lost files, restoring the times and logging
// every step. One job recovers into the recovery folder ("Recover..."); the try-open job copies
// into the temporary folder and opens the last file copied ("Try To Open...").
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filesystem/FoundItem.h"
#include "recovery/SizeRules.h"

namespace vm {

class CVolume;
class CFoundTree;
class CTargetFolder;

constexpr std::uint32_t kRecoveryChunk = 2 * 1024 * 1024;

// The settings that recovery reads and changes (the program's settings block holds them).
struct RecoverySettings {
    std::string RecoveryFolder;  // empty: "Recovered Files" in the user's home folder
    std::string TempFolder;      // empty: the program's private temporary folder
};

enum class RecoveryMode { Recover, TryOpen };

// Where the user's selection was made: in the file or search-result list (a selected folder
// brings the files below it and then itself) or in the folder tree (only the files below).
enum class SelectionSource { List, Tree };

// How one item ended; the job counts them.
enum RecoveryResult : int {
    RR_FAILED = 0,
    RR_DONE = 1,
    RR_INCOMPLETE = 2,  // a partial file is kept: stopped, the destination took no more, bytes
                        // that could not be read are zeros in it, or cut where the drive holds
                        // no more of it than its size claims (Outcome::CutBytes)
};

// Opens a file with the desktop's associated application. Answers above 32 mean success, 31 that
// no application is associated, anything else an error code.
using FileOpener = std::function<int(const std::string& path)>;
FileOpener DefaultFileOpener();

class CRecovery {
public:
    explicit CRecovery(RecoveryMode mode = RecoveryMode::Recover);
    ~CRecovery();
    CRecovery(const CRecovery&) = delete;
    CRecovery& operator=(const CRecovery&) = delete;

    // The program's settings, run flag (ProgressBlock's RecoveryRunning) and catalogue; until
    // set, the job uses its own.
    void SetSettings(RecoverySettings* settings);
    void SetRunFlag(std::atomic<std::int32_t>* recoveryRunning);
    void SetTypeSizes(ITypeSizes* types);
    void SetFileOpener(FileOpener opener) { Opener = std::move(opener); }

    // Replaces the recovery list from the user's selection; returns the number of items.
    // Items of folders are looked up in `tree`, the drive's found items. While a worker runs the
    // list stays as it is and 0 is returned.
    std::size_t BuildRecoveryList(const CFoundTree& tree, const std::vector<FoundItem*>& selection,
                                  SelectionSource source);
    // The Recover command's run: builds the list, logs, and starts the worker. False when the
    // list is empty or the job could not start.
    bool BeginRecovery(CVolume* volume, const std::vector<FoundItem*>& selection, SelectionSource source);

    // Start the worker for `volume` (the drive being analysed). False while a worker runs or
    // the drive is being analysed.
    bool StartRecovery(CVolume* volume);
    bool StartTryOpen(CVolume* volume);
    void StopRecovery();
    bool IsRunning() const { return WorkerRunning.load(); }
    void Wait();

    // One item into `destination` (null: the recovery folder); 1 when it was written whole.
    int RecoverItem(FoundItem* item, const std::string* destination);
    // Asks nothing: deletes the files that try-open wrote into the temporary folder.
    void DeleteTempFiles();
    bool HasTempFiles() const;

    // Progress, read by the progress display without waiting.
    std::uint32_t ItemCount() const { return ItemTotal.load(); }
    std::uint32_t CurrentIndex() const { return Current.load(); }
    std::uint32_t CurrentFilePercent() const { return FilePercent.load(); }
    std::string CurrentTargetPath() const;
    // Bytes of the files kept (recovered or partial); a failed file's bytes are not counted.
    std::uint64_t BytesWritten() const { return TotalWritten.load(); }
    std::uint32_t Count(RecoveryResult result) const;

    // Remembered size rules for lost files of any type (0 = none).
    std::uint32_t SizeRuleAll = SR_NONE;
    std::uint32_t CustomSizeKBAll = 0;
    // How each file of the last run ended and where it went, in the order of the list.
    struct Outcome {
        const FoundItem* Item;
        std::string Target;  // empty when nothing was created
        RecoveryResult Result;
        std::uint64_t Written = 0;     // bytes in the target file
        std::uint64_t ZeroFilled = 0;  // of them, bytes that could not be read and are zeros
        // Bytes that the item's size claims past what the drive holds of it (a damaged size
        // field): not written, the file ends before them. 0 when nothing was cut.
        std::uint64_t CutBytes = 0;
    };
    // Those of the files from the `first`-th ended one on (all of them by default); callers that
    // follow a running job ask for the ones they have not seen yet.
    std::vector<Outcome> Outcomes(std::size_t first = 0) const;

    CVolume* Volume = nullptr;
    std::vector<FoundItem*> Items;
    std::vector<std::string> TempFiles;

private:
    enum class CopyEnd { Complete, Stopped, WriteFailed, Broken, NothingRead };

    bool Start(CVolume* volume, void (CRecovery::*worker)());
    void Recovery_Thread();
    void TryOpen_Thread();
    // Runs the list; false when it was stopped before the end.
    bool RunItems(std::string& destination);
    RecoveryResult RecoverOne(FoundItem* item, const std::string* destination);
    // The open folder below `dest` that `components` name, made where missing; null on failure
    // (logged). The last one stays open for the next item.
    CTargetFolder* TargetFolderFor(const std::string& dest, const std::vector<std::string>& components);
    RecoveryResult RecoverFolderItem(const FoundItem& item, CTargetFolder& parent, const std::string& source);
    int SettleLostSize(FoundItem& item);
    // Sets CopySize from the item's size and what the drive holds of it.
    void BoundBySource(const FoundItem& item);
    int AskProbableSize(FoundItem& item, std::uint64_t& size);
    int CreateTarget(CTargetFolder& folder, std::string& name);
    RecoveryResult FileRecovery(CTargetFolder& folder, std::string& name);
    RecoveryResult FinishFile(CTargetFolder& folder, const std::string& name, CopyEnd end, std::uint64_t written);
    CopyEnd RecoveryCycle(int fd, std::uint64_t& written);
    // Fills Buffer with `want` bytes of the item from `pos`; returns how many could be read.
    std::uint32_t ReadChunk(std::uint64_t pos, std::uint32_t want);
    // Logs and counts `bytes` of the target from item offset `first` as zeros.
    void NoteZeroFilled(std::uint64_t first, std::uint64_t bytes);
    bool Running() const { return RunFlag->load() != 0; }
    void SetTargetPath(const std::string& path);
    void OpenLastTarget();
    std::string& DestinationSetting(RecoveryMode mode);

    RecoveryMode Mode;
    RecoverySettings OwnSettings;
    RecoverySettings* Settings = &OwnSettings;
    std::atomic<std::int32_t> OwnRunFlag{0};
    std::atomic<std::int32_t>* RunFlag = &OwnRunFlag;
    CTypeSizeTable OwnTypes;
    ITypeSizes* Types = &OwnTypes;
    FileOpener Opener;

    std::unique_ptr<CTargetFolder> LastFolder;
    std::string LastFolderKey;
    FoundItem* TargetItem = nullptr;
    std::uint64_t CopySize = 0;  // bytes of TargetItem to copy: its size, or less where the drive holds less
    std::uint64_t CutBytes = 0;  // its size less CopySize
    bool TargetCreated = false;
    std::uint64_t TargetWritten = 0;     // bytes of the current target
    std::uint64_t TargetZeroFilled = 0;  // of them, zeros in place of what could not be read
    mutable std::mutex PathLock;
    std::string TargetPath;
    std::vector<Outcome> Ended;  // guarded by PathLock
    std::atomic<std::uint32_t> Current{0};
    std::atomic<std::uint32_t> ItemTotal{0};
    std::atomic<std::uint32_t> FilePercent{0};
    std::atomic<std::uint64_t> TotalWritten{0};
    std::atomic<std::uint32_t> Results[3] = {};
    std::vector<std::uint8_t> Buffer;
    std::atomic<bool> WorkerRunning{false};
    std::thread hThread;
};

}  // namespace vm
