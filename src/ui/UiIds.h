#pragma once
// Ids of the desktop application: command ids (a QAction's data), status-bar panes and control
// ids that the texts and language files are keyed by. One table: every id a window uses is here.
namespace vm::ui {

namespace cmd {
// Disk menu
constexpr int StartAnalyzing = 32774;
constexpr int StopAnalyzing = 32775;
constexpr int RescanDrives = 32781;
constexpr int CreateImage = 32782;
constexpr int LoadImage = 32783;
constexpr int CreateVirtualDrive = 32784;  // drive tree context menu only
constexpr int SearchLostDrives = 32862;
constexpr int Exit = 57665;
// File menu
constexpr int Recover = 32787;
constexpr int TryOpen = 32809;
constexpr int ResetSize = 32845;
constexpr int SetNewSize = 32831;
constexpr int Information = 32797;
// View menu
constexpr int Search = 32791;
constexpr int Filters = 32803;
constexpr int Legend = 32794;
constexpr int ToolBar = 59392;
constexpr int StatusBar = 59393;
// Options menu: the pages of the settings sheet
constexpr int Settings = 32798;
constexpr int CommonSettings = 32802;
constexpr int Confirmations = 32799;
constexpr int FileTypes = 32829;
constexpr int TemporaryFolder = 32810;
constexpr int DriveAccess = 32800;
constexpr int Logging = 32811;
constexpr int InterfaceLanguage = 32801;
// Help menu
constexpr int HelpContents = 57670;
constexpr int RecoveryGuide = 32817;
constexpr int SearchHelp = 32818;
constexpr int WebSite = 32789;
constexpr int SendMail = 32795;  // no menu entry
constexpr int About = 57664;
// Without a menu entry
constexpr int ArrangeFirst = 32839;
constexpr int WizardMode = 32840;
constexpr int ArrangeSecond = 32841;
constexpr int ArrangeSecondAlt = 32842;
constexpr int SaveLog = 134;       // the log box's "..." button
constexpr int Properties = 32872;  // drive tree context menu: "Volume Information"
constexpr int ClosePane = 57682;
// The hex view
constexpr int Copy = 57634;
constexpr int SelectAll = 57643;
constexpr int NextPane = 57680;
}  // namespace cmd

// Status-bar panes.
namespace pane {
constexpr int Status = 133;
constexpr int Progress = 159;
}  // namespace pane

// Texts by string id that the windows show.
namespace text {
constexpr int CopyLargeAmount = 132;
constexpr int CopyLargeAmountCaption = 133;
constexpr int Unknown = 57116;
constexpr int FolderType = 57118;
constexpr int AdminError = 153;
constexpr int AdminErrorText = 154;
constexpr int Confirmation = 157;
constexpr int ConfirmExit = 158;
constexpr int ConfirmStop = 170;
constexpr int LegendTitle = 190;
constexpr int DataViewerTitle = 369;
constexpr int Ready = 57345;
constexpr int Aborting = 57112;
constexpr int ClearLastAnalysis = 57114;
constexpr int AnalyzingFileSystem = 57211;
constexpr int AnalyzingSectors = 57311;
constexpr int AbortedLog = 57113;
}  // namespace text

// Controls of the settings sheet that a language file retitles by id.
namespace ctl {
constexpr int ShowSplash = 1001;
constexpr int AutoUpdate = 1002;
constexpr int ConfirmExit = 1011;
constexpr int ConfirmScanAbort = 1012;
constexpr int ConfirmRecoveryAbort = 1013;
constexpr int ConfirmOverwrite = 1014;
constexpr int NoTryOpenWarning = 1015;
constexpr int TryOpenNote = 1016;
constexpr int SystemTempFolder = 1031;
constexpr int CustomTempFolder = 1032;
constexpr int BrowseTempFolder = 1033;
constexpr int RetriesLabel = 1041;
constexpr int RetriesHint = 1042;
constexpr int PauseLabel = 1043;
constexpr int PauseUnit = 1044;
constexpr int PauseHint = 1045;
constexpr int SaveLogToFile = 1051;
constexpr int LogFileNameLabel = 1052;
constexpr int LogMaxSizeLabel = 1053;
constexpr int LogMaxSizeUnit = 1054;
constexpr int LogClearOnStart = 1055;
constexpr int LogToDebugger = 1056;
constexpr int LanguageLabel = 1061;
constexpr int LanguageNote = 1062;
constexpr int LanguageHelpNote = 1063;
}  // namespace ctl

// Modes of the top-level window (the stored AppMode).
namespace mode {
constexpr int SignatureWizard = 100;
constexpr int Wizard = cmd::WizardMode;
constexpr int MainFirst = cmd::ArrangeFirst;
constexpr int MainSecond = cmd::ArrangeSecond;
}  // namespace mode

}  // namespace vm::ui
