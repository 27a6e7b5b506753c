// The control ids of the dialog templates, by name. Code names a control by these, never by
// its number.
#pragma once

namespace ctl {

// The main window (template 102).
inline constexpr int Exit = 2;
inline constexpr int Port = 1000;
inline constexpr int DataBits = 1001;
inline constexpr int StopBits = 1002;
inline constexpr int Parity = 1003;
inline constexpr int Baud = 1004;
inline constexpr int Flow = 1005;
inline constexpr int CaptureFile = 1006;
inline constexpr int DropDirectory = 1007;
inline constexpr int Start = 1008;
inline constexpr int Stop = 1009;
inline constexpr int Animation = 1010;
inline constexpr int Open = 1011;
inline constexpr int SendFile = 1012;
inline constexpr int Send = 1013;
inline constexpr int Abort = 1014;
inline constexpr int Progress = 1015;
inline constexpr int Editor = 1016;
inline constexpr int HexList = 1017;
inline constexpr int Find = 1018;
inline constexpr int FindText = 1019;
inline constexpr int Save = 1020;
inline constexpr int Print = 1021;
inline constexpr int EditorSend = 1022;
inline constexpr int New = 1023;
inline constexpr int Overflow = 1024;
inline constexpr int Ascii = 1025;
inline constexpr int Case = 1026;
inline constexpr int IconButton = 1027;
inline constexpr int EditorGroup = 1028;
inline constexpr int PortGroup = 1029;
inline constexpr int InputGroup = 1030;
inline constexpr int OutputGroup = 1031;
inline constexpr int PortLabel = 1032;
inline constexpr int ParityLabel = 1033;
inline constexpr int DataBitsLabel = 1034;
inline constexpr int BaudLabel = 1035;
inline constexpr int StopBitsLabel = 1036;
inline constexpr int FlowLabel = 1037;
inline constexpr int CaptureFileLabel = 1038;
inline constexpr int DropDirectoryLabel = 1039;
inline constexpr int SendFileLabel = 1040;
inline constexpr int Scan = 1041;
inline constexpr int Delay = 1047;
inline constexpr int PaneMarker = 1048;
inline constexpr int DelayLabel = 1049;
inline constexpr int DelayUnit = 1050;
inline constexpr int RtsOff = 1051;
inline constexpr int RtsOn = 1052;
inline constexpr int InputBuffer = 1054;
inline constexpr int Rs485 = 1055;
inline constexpr int Browse = 1056;
inline constexpr int Mode = 1057;

// Controls the program never addresses.
inline constexpr int Unnamed = -1;

// "Select range:" (template 138).
namespace range {
inline constexpr int From = 1006;
inline constexpr int To = 1007;
} // namespace range

// The About box (template 139).
namespace about {
inline constexpr int Ok = 1;
inline constexpr int SupportIcon = 1042;
inline constexpr int WebSite = 1043;
inline constexpr int Mail = 1045;
} // namespace about

} // namespace ctl
