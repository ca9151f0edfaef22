// Sections, keys and buffer sizes of the configuration file OCTO816.INI, shared by every
// part of the program that reads or writes it.
#pragma once

#include <cstdint>

namespace octo::ini {

inline constexpr char kSystem[] = "System";
inline constexpr char kUser[] = "User";
inline constexpr char kTiming[] = "Timing";
inline constexpr char kDiagnostic[] = "Diagnostic";
inline constexpr char kVersion[] = "Version";
inline constexpr char kSerial[] = "Serial";

// Text keys are read into buffers of these sizes: a longer value is cut to size - 1.
inline constexpr uint32_t kPathBuffer = 260;
inline constexpr uint32_t kNameBuffer = 50;

inline constexpr char kImageFile[] = "ImageFile";
inline constexpr char kImage2File[] = "Image2File";
inline constexpr char kComPort[] = "ComPort";
inline constexpr char kBaudRate[] = "BaudRate";
inline constexpr char kJtagSpeed[] = "JtagSpeed";
inline constexpr char kVerifyMarginal[] = "VerifyMarginal";
inline constexpr char kDevType[] = "DevType";
inline constexpr char kDevTypeName[] = "DevTypeName";
inline constexpr char kSupplyByProg[] = "SupplyByProg";
inline constexpr char kEraseMain[] = "EraseMain";
inline constexpr char kEraseInfo[] = "EraseInfo";
inline constexpr char kErasePinfo[] = "ErasePINFO";
inline constexpr char kEraseBslSegm[] = "EraseBSLSegm";
inline constexpr char kRestoreDco[] = "RestoreDCO";
inline constexpr char kUseDlk[] = "UseDLK";
inline constexpr char kSupplyVoltage[] = "SupplyVoltage";
inline constexpr char kSwitchVccOff[] = "SwitchVccOff";
inline constexpr char kSettleTime[] = "SettleTime";
inline constexpr char kErase[] = "Erase";
inline constexpr char kEraseCheck[] = "EraseCheck";
inline constexpr char kProgram[] = "Program";
inline constexpr char kVerify[] = "Verify";
inline constexpr char kBlowFuse[] = "BlowFuse";
inline constexpr char kShowSettings[] = "ShowSettings";

inline constexpr char kCaptionIndexed[] = "CaptionIndexed";
inline constexpr char kMaxSupplyVoltage[] = "MaxSupplyVoltage";
inline constexpr char kRepeatSelftest[] = "RepeatSelftest";
inline constexpr char kRepeatOctoprog[] = "RepeatOctoprog";
inline constexpr char kCreateLogFile[] = "CreateLogFile";
inline constexpr char kTraceLog[] = "TraceLog";
inline constexpr char kSockets[] = "Sockets";

inline constexpr char kSerialLedger[] = "Ledger";
inline constexpr char kSerialAddress[] = "Address";
inline constexpr char kSerialStart[] = "Start";
inline constexpr char kSerialEnd[] = "End";
inline constexpr char kSerialStep[] = "Step";
inline constexpr char kSerialFormat[] = "Format";
inline constexpr char kSerialWidth[] = "Width";
inline constexpr char kSerialList[] = "List";

inline constexpr char kTimeSelfTest[] = "TimeSelfTest";
inline constexpr char kTimeOctoProg[] = "TimeOctoProg";
inline constexpr char kTimeEraseImage[] = "TimeEraseImage";
inline constexpr char kTimeLoadImage[] = "TimeLoadImage";
inline constexpr char kTimeLoadFirmware[] = "TimeLoadFirmware";
inline constexpr char kTimeReadoutTarget[] = "TimeReadoutTarget";

inline constexpr char kBusy[] = "Busy";

// Keys of a device-type section.
inline constexpr char kGroup[] = "Group";
inline constexpr char kVpp[] = "Vpp";
inline constexpr char kDlkAble[] = "DlkAble";
inline constexpr char kJtag4Disable[] = "JTAG4disable";

} // namespace octo::ini
