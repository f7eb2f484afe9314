#pragma once
// The program settings: one fixed-layout record of 112,004 bytes, stored byte for byte as the
// binary value "Settings" under the program's key. Integers are little-endian, flags are 32-bit
// (0 off, anything else on), texts are zero-terminated UTF-16LE in fixed fields and are UTF-8
// at this class's interface. Offset 0 holds the checksum: the wrap-around sum of the 32-bit
// words from offset 4 to the end.
//
// The window thread changes the settings; any thread may read them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <shared_mutex>
#include <string>
#include <vector>

namespace vm {

class CRegistryStore;

// How a stored number is checked when it is loaded or set.
enum class SettingCheck : std::uint8_t { None, Clamp, BlockSize };

// One numeric field of the block.
struct SettingField {
    const char* Name;
    std::uint32_t Offset;
    bool Signed;
    bool HasDefault;  // false: resetting to the defaults leaves the field as it is
    std::int64_t Default;
    SettingCheck Check;
    std::int64_t Min, Max;  // for SettingCheck::Clamp
};

inline constexpr std::int64_t kKeep = std::numeric_limits<std::int64_t>::min();  // no default
inline constexpr std::uint32_t kDefaultSearchBlockSize = 2097152;  // what SearchBlockSize 0 means
inline constexpr std::uint32_t kMaxSearchBlockSize = 256u << 20;
inline constexpr std::uint32_t kMaxSearchThreads = 64;

// The 32-bit fields: type, name, offset, default (kKeep: none), check, lowest, highest.
#define VM_SETTING_NUMBERS(X)                                                            \
    X(std::uint32_t, RescanAtStart, 36, 1, None, 0, 0)                                   \
    X(std::uint32_t, LanguageIndex, 48, kKeep, None, 0, 0)                               \
    X(std::uint32_t, ShowLegend, 60, 1, None, 0, 0)                                      \
    X(std::uint32_t, ShowLog, 64, 1, None, 0, 0)                                         \
    X(std::uint32_t, ShowStatusBar, 68, 1, None, 0, 0)                                   \
    X(std::uint32_t, ShowToolBar, 72, 1, None, 0, 0)                                     \
    X(std::uint32_t, ShowSplash, 76, 1, None, 0, 0)                                      \
    X(std::uint32_t, ConfirmExit, 84, 1, None, 0, 0)                                     \
    X(std::uint32_t, ConfirmScanAbort, 88, 1, None, 0, 0)                                \
    X(std::uint32_t, ConfirmRecoveryAbort, 92, 1, None, 0, 0)                            \
    X(std::uint32_t, ConfirmOverwrite, 96, 1, None, 0, 0)                                \
    X(std::uint32_t, NoTryOpenWarning, 100, kKeep, None, 0, 0)                           \
    X(std::uint32_t, UseCustomTempFolder, 108, 0, None, 0, 0)                            \
    X(std::uint32_t, SaveLogToFile, 112, 0, None, 0, 0)                                  \
    X(std::uint32_t, LogToDebugger, 116, 1, None, 0, 0)                                  \
    X(std::uint32_t, LogClearOnStart, 120, 1, None, 0, 0)                                \
    X(std::uint32_t, LogMaxSizeKB, 124, 10240, Clamp, 1, 102400)                         \
    X(std::int32_t, UpdateCheckDays, 128, 30, None, 0, 0)                                \
    X(std::uint32_t, AutoPilot, 140, kKeep, None, 0, 0)                                  \
    X(std::uint32_t, KeepFolderStructure, 144, kKeep, None, 0, 0)                        \
    X(std::uint32_t, ExitImmediately, 148, 0, None, 0, 0)                                \
    X(std::uint32_t, LogFoundFiles, 152, 0, None, 0, 0)                                  \
    X(std::uint32_t, SectorScanAfterFs, 156, 0, None, 0, 0)                              \
    X(std::uint32_t, AnalysisQueueOption, 160, 1, None, 0, 0)                            \
    X(std::uint32_t, SectorSearchOption, 164, 1, None, 0, 0)                             \
    X(std::uint32_t, SectorSearchState, 168, 0, None, 0, 0)                              \
    X(std::uint32_t, SearchThreads, 172, 1, Clamp, 0, kMaxSearchThreads)                 \
    X(std::uint32_t, ReadRetries, 176, 10, Clamp, 0, 1000000)                            \
    X(std::uint32_t, RetryPauseMs, 180, 0, Clamp, 0, 1000000)                            \
    X(std::uint32_t, SearchBlockSize, 184, 0, BlockSize, 0, 0)                           \
    X(std::uint32_t, AnalysisOption, 188, 1, None, 0, 0)                                 \
    X(std::uint32_t, AppMode, 17604, kKeep, None, 0, 0)

class CSettingsBlock {
public:
    static constexpr std::size_t kSize = 112004;
    static constexpr std::uint32_t kNextUpdateCheckOffset = 132;  // FILETIME, 8 bytes
    static constexpr std::uint32_t kWizardStateOffset = 17744;
    static constexpr std::size_t kWizardStateSize = 44;
    static constexpr std::uint32_t kRecoveryFolderOffset = 17788, kTempFolderOffset = 25980;
    static constexpr std::uint32_t kFolderFieldSize = 8192;  // 4096 characters
    static constexpr std::uint32_t kLogFileNameOffset = 34172, kLogFileNameSize = 2048;
    static constexpr std::uint32_t kReservedTextOffset = 36220, kReservedTextSize = 2048;

    // A block with the defaults, kept by `store` (the user's default store when null).
    explicit CSettingsBlock(CRegistryStore* store = nullptr);
    CSettingsBlock(const CSettingsBlock&) = delete;
    CSettingsBlock& operator=(const CSettingsBlock&) = delete;

    // Reads the stored block: 1 when it was taken, 0 when the defaults were used (and saved).
    // Either way `RescanAtStart` is 1 afterwards.
    int Load();
    // Writes the block with a fresh checksum: 1 when the store took it, else 0.
    int Save();
    // Stores the checksum and saves when the block differs from what was last loaded or saved;
    // a failed write is tried again after the next change. Always 1.
    int SaveIfChanged();
    // The defaults into every field that has one, then `Save`.
    void ResetToDefaults();
    // The defaults without saving.
    void ApplyDefaults();

#define VM_SETTING_ACCESSORS(Type, Name, Offset, Default, Check, Min, Max) \
    Type Name() const { return Type(Get32(Offset)); }                   \
    void Set##Name(Type value) { Set32(Offset, std::uint32_t(value)); }
    VM_SETTING_NUMBERS(VM_SETTING_ACCESSORS)
#undef VM_SETTING_ACCESSORS

    std::uint64_t NextUpdateCheck() const;
    void SetNextUpdateCheck(std::uint64_t fileTime);
    std::string RecoveryFolder() const { return GetText(kRecoveryFolderOffset, kFolderFieldSize); }
    void SetRecoveryFolder(const std::string& s) { SetText(kRecoveryFolderOffset, kFolderFieldSize, s); }
    std::string TempFolder() const { return GetText(kTempFolderOffset, kFolderFieldSize); }
    void SetTempFolder(const std::string& s) { SetText(kTempFolderOffset, kFolderFieldSize, s); }
    std::string LogFileName() const { return GetText(kLogFileNameOffset, kLogFileNameSize); }
    void SetLogFileName(const std::string& s) { SetText(kLogFileNameOffset, kLogFileNameSize, s); }
    std::array<std::uint8_t, kWizardStateSize> WizardState() const;
    void SetWizardState(const std::array<std::uint8_t, kWizardStateSize>& state);

    // The block as it would be stored (checksum as last stored).
    std::vector<std::uint8_t> Bytes() const;
    // The checksum that `bytes` (kSize of them) should carry at offset 0.
    static std::uint32_t ComputeChecksum(const std::uint8_t* bytes);
    // The folder used when no custom temporary folder is chosen.
    static std::string SystemTempFolder();
    static const std::vector<SettingField>& Fields();

private:
    std::uint32_t Get32(std::uint32_t offset) const;
    void Set32(std::uint32_t offset, std::uint32_t value);
    std::string GetText(std::uint32_t offset, std::uint32_t size) const;
    void SetText(std::uint32_t offset, std::uint32_t size, const std::string& text);
    // Takes a stored value when it has the right type, size and checksum.
    bool Accept(const std::vector<std::uint8_t>& value, std::uint32_t type);
    void CheckAllFields();
    CRegistryStore& Store() const;

    mutable std::shared_mutex Lock;
    std::vector<std::uint8_t> Block;
    std::vector<std::uint8_t> Saved;  // the bytes last loaded or handed to the store
    CRegistryStore* pStore;
};

// The process's settings. Until start-up loads them, the defaults.
CSettingsBlock& AppSettings();

}  // namespace vm
