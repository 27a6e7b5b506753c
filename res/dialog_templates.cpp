#include "res/dialog_templates.h"

#include <array>

namespace res {
namespace {

using K = ControlKind;

constexpr std::array<const char *, 22> kPorts = {
    "COM3",  "COM4",  "COM5",  "COM6",  "COM7",  "COM8",  "COM9",  "COM10",
    "COM11", "COM12", "COM13", "COM14", "COM15", "COM16", "COM17", "COM18",
    "COM19", "COM20", "COM21", "COM22", "COM23", "COM24"};
constexpr std::array<const char *, 5> kDataBits = {"4", "5", "6", "7", "8"};
constexpr std::array<const char *, 3> kStopBits = {"1", "1.5", "2"};
constexpr std::array<const char *, 5> kParity = {"Even", "Mark", "None", "Odd", "Space"};
constexpr std::array<const char *, 20> kBaudRates = {
    "110",   "300",   "600",    "1200",   "2400",   "4800",   "9600",
    "14400", "19200", "38400",  "56000",  "57600",  "115200", "153600",
    "230400", "460800", "691200", "750000", "768000", "921600"};
constexpr std::array<const char *, 3> kFlow = {"Hardware", "Software", "None"};

const ControlTemplate kMainControls[] = {
    {1029, K::GroupBox, "Port settings", 6, 8, 119, 116, 0, "Port settings", {}},
    {1032, K::Label, "Port:", 12, 19, 16, 8, 0, "Port", {}, 0, 1000},
    {1000, K::ComboBox, "", 11, 29, 48, 50, Editable | VScroll, "Port", kPorts},
    {1034, K::Label, "Data bits:", 11, 43, 31, 8, 0, "Data bits", {}, 0, 1001},
    {1001, K::ComboBox, "", 11, 53, 48, 43, 0, "Data bits", kDataBits},
    {1036, K::Label, "Stop bits:", 11, 67, 47, 8, 0, "Stop bits", {}, 0, 1002},
    {1002, K::ComboBox, "", 11, 77, 48, 46, 0, "Stop bits", kStopBits},
    {1033, K::Label, "Parity:", 67, 20, 50, 8, AlignRight, "Parity", {}, 0, 1003},
    {1003, K::ComboBox, "", 67, 29, 51, 45, AlignRight | ArrowLeft, "Parity", kParity},
    {1035, K::Label, "Baudrate:", 66, 43, 51, 8, AlignRight, "Baudrate", {}, 0, 1004},
    {1004, K::ComboBox, "", 67, 53, 51, 48, Editable | AlignRight | ArrowLeft, "Baudrate",
     kBaudRates},
    {1037, K::Label, "Flow Control:", 67, 68, 49, 8, AlignRight, "Flow Control", {}, 0, 1005},
    {1005, K::ComboBox, "", 67, 77, 51, 61, AlignRight | ArrowLeft, "Flow Control", kFlow},
    {1041, K::Button, "Scan", 11, 94, 27, 14, 0, "Scan", {}},
    {1055, K::CheckBox, "&RS485", 80, 94, 38, 10, Hidden, "RS485", {}},
    {1049, K::Label, "Send delay per bytes:", 11, 111, 71, 8, 0, "Send delay per bytes", {}, 0, 1047},
    {1047, K::Edit, "", 84, 109, 22, 12, AlignRight | Border, "Send delay per bytes", {}},
    {1050, K::Label, "ms", 109, 112, 10, 8, 0, "ms", {}},
    {1030, K::GroupBox, "Input", 129, 8, 78, 116, 0, "Input", {}},
    {1038, K::Label, "File:", 134, 23, 14, 8, 0, "File", {}, 0, 1006},
    {1006, K::Edit, "", 134, 34, 68, 12, Border | AutoHScroll, "Capture file", {}},
    {1051, K::Button, "Off", 169, 18, 15, 14, Hidden, "Off", {}},
    {1052, K::Button, "On", 187, 18, 15, 14, Hidden, "On", {}},
    {1039, K::Label, "Drop directory:", 134, 54, 47, 8, 0, "Drop directory", {}, 0, 1007},
    {1007, K::Edit, "", 135, 65, 54, 12, ReadOnly | Border | AutoHScroll, "Drop directory", {}},
    {1056, K::Button, "...", 191, 64, 12, 14, 0, "...", {}},
    {1008, K::Button, "Start", 135, 84, 27, 14, 0, "Start", {}},
    {1009, K::Button, "Stop", 176, 84, 27, 14, 0, "Stop", {}},
    {2, K::Button, "E&xit", 135, 105, 27, 14, 0, "Exit", {}},
    {1016, K::Button, "&Editor", 176, 105, 27, 14, 0, "Editor", {}},
    {1031, K::GroupBox, "Output", 211, 8, 79, 116, 0, "Output", {}},
    {1040, K::Label, "File:", 216, 24, 14, 8, 0, "File", {}, 0, 1012},
    {1012, K::Edit, "", 215, 34, 70, 12, ReadOnly | Border | AutoHScroll, "Send file", {}},
    {1011, K::Button, "Open", 259, 51, 27, 14, 0, "Open", {}},
    {1010, K::Animation, "", 215, 52, 20, 14, Transparent, "Animation", {}},
    {1057, K::CheckBox, "Mode 1 / 2", 215, 70, 71, 10, 0, "Mode 1 / 2", {}},
    {1013, K::Button, "Send", 215, 84, 27, 14, 0, "Send", {}},
    {1014, K::Button, "Abort", 258, 84, 27, 14, 0, "Abort", {}},
    {1015, K::ProgressBar, "", 215, 108, 72, 10, Smooth, "Progress", {}},
    {1028, K::GroupBox, "Easy HEX editor", 6, 127, 283, 150, 0, "Easy HEX editor", {}},
    {1048, K::Label, "Static", 6, 128, 18, 8, Hidden, "Static", {}},
    {1017, K::ListBox, "", 12, 142, 271, 77, Border | VScroll | Notify | NoSelection,
     "Hex lines", {}},
    {1024, K::IconLabel, "", 11, 219, 20, 20, 0, "Overflow", {}, 135},
    {1019, K::Edit, "", 46, 222, 81, 12, Border | AutoHScroll, "Find text", {}},
    {1025, K::CheckBox, "ASCII", 130, 220, 35, 9, 0, "ASCII", {}},
    {1026, K::CheckBox, "CASE", 130, 228, 35, 9, 0, "CASE", {}},
    {1018, K::Button, "&Find", 168, 220, 23, 14, 0, "Find", {}},
    {1023, K::Button, "&New", 193, 220, 22, 14, 0, "New", {}},
    {1022, K::Button, "S&end", 216, 220, 22, 14, 0, "Send", {}},
    {1020, K::Button, "&Save", 239, 220, 22, 14, 0, "Save", {}},
    {1021, K::Button, "&Print", 261, 220, 22, 14, 0, "Print", {}},
    {1027, K::IconButton, "", 274, 132, 9, 9, Hidden | Disabled, "Icon button", {}},
    {-1, K::Label, "Input buffer", 11, 239, 32, 18, 0, "Input buffer", {}, 0, 1054},
    {1054, K::Edit, "", 46, 238, 237, 35, ReadOnly | MultiLine | VScroll | Border,
     "Input buffer", {}},
};

const ControlTemplate kRangeControls[] = {
    {1006, K::Edit, "", 16, 4, 27, 12, Border | AutoHScroll | UpperCase, "From", {}},
    {-1, K::Label, "-", 47, 6, 8, 8, 0, "-", {}},
    {1007, K::Edit, "", 56, 4, 27, 12, Border | AutoHScroll | UpperCase, "To", {}},
};

const ControlTemplate kAboutControls[] = {
    {1042, K::IconLabel, "", 14, 15, 20, 20, 0, "Support page", {}, 128},
    {-1, K::Label, kProductLine, 38, 13, 103, 8, Centered, kProductLine, {}},
    {-1, K::Label, kMakerName, 38, 22, 103, 8, Centered, kMakerName, {}},
    {-1, K::Label, kRightsLine, 38, 32, 103, 8, Centered, kRightsLine, {}},
    {1043, K::Label, kWebSite, 38, 52, 103, 8, Centered, "Web site", {}},
    {1045, K::Label, "e-mail: kalvosan@brisgal.example", 38, 63, 103, 8, Centered, "e-mail", {}},
    {1, K::Button, "OK", 60, 86, 50, 14, 0, "OK", {}},
};

const DialogTemplate kMain{102, "Kalvosan", "Verdana", 9, 295, 279, kMainControls};
const DialogTemplate kRange{138, "Select range:", "Verdana", 8, 103, 18, kRangeControls};
const DialogTemplate kAbout{139, "About Kalvosan..", "Verdana", 8, 169, 107, kAboutControls};

} // namespace

const DialogTemplate &mainDialogTemplate() { return kMain; }
const DialogTemplate &rangeDialogTemplate() { return kRange; }
const DialogTemplate &aboutDialogTemplate() { return kAbout; }

} // namespace res
