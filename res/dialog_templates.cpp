#include "res/dialog_templates.h"

#include "res/control_ids.h"

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
    "110",    "300",    "600",    "1200",   "2400",   "4800",   "9600",
    "14400",  "19200",  "38400",  "56000",  "57600",  "115200", "153600",
    "230400", "460800", "691200", "750000", "768000", "921600"};
constexpr std::array<const char *, 3> kFlow = {"Hardware", "Software", "None"};

// One control a line, as in a dialog template.
// clang-format off
const ControlTemplate kMainControls[] = {
    {ctl::PortGroup, K::GroupBox, "Port settings", 6, 8, 119, 116, 0, "Port settings", {}},
    {ctl::PortLabel, K::Label, "Port:", 12, 19, 16, 8, 0, "Port", {}, 0, ctl::Port},
    {ctl::Port, K::ComboBox, "", 11, 29, 48, 50, Editable | VScroll, "Port", kPorts},
    {ctl::DataBitsLabel, K::Label, "Data bits:", 11, 43, 31, 8, 0, "Data bits", {}, 0, ctl::DataBits},
    {ctl::DataBits, K::ComboBox, "", 11, 53, 48, 43, 0, "Data bits", kDataBits},
    {ctl::StopBitsLabel, K::Label, "Stop bits:", 11, 67, 47, 8, 0, "Stop bits", {}, 0, ctl::StopBits},
    {ctl::StopBits, K::ComboBox, "", 11, 77, 48, 46, 0, "Stop bits", kStopBits},
    {ctl::ParityLabel, K::Label, "Parity:", 67, 20, 50, 8, AlignRight, "Parity", {}, 0, ctl::Parity},
    {ctl::Parity, K::ComboBox, "", 67, 29, 51, 45, AlignRight | ArrowLeft, "Parity", kParity},
    {ctl::BaudLabel, K::Label, "Baudrate:", 66, 43, 51, 8, AlignRight, "Baudrate", {}, 0, ctl::Baud},
    {ctl::Baud, K::ComboBox, "", 67, 53, 51, 48, Editable | AlignRight | ArrowLeft, "Baudrate",
     kBaudRates},
    {ctl::FlowLabel, K::Label, "Flow Control:", 67, 68, 49, 8, AlignRight, "Flow Control", {}, 0, ctl::Flow},
    {ctl::Flow, K::ComboBox, "", 67, 77, 51, 61, AlignRight | ArrowLeft, "Flow Control", kFlow},
    {ctl::Scan, K::Button, "Scan", 11, 94, 27, 14, 0, "Scan", {}},
    {ctl::Rs485, K::CheckBox, "&RS485", 80, 94, 38, 10, Hidden, "RS485", {}},
    {ctl::DelayLabel, K::Label, "Send delay per bytes:", 11, 111, 71, 8, 0, "Send delay per bytes", {}, 0, ctl::Delay},
    {ctl::Delay, K::Edit, "", 84, 109, 22, 12, AlignRight | Border, "Send delay per bytes", {}},
    {ctl::DelayUnit, K::Label, "ms", 109, 112, 10, 8, 0, "ms", {}},
    {ctl::InputGroup, K::GroupBox, "Input", 129, 8, 78, 116, 0, "Input", {}},
    {ctl::CaptureFileLabel, K::Label, "File:", 134, 23, 14, 8, 0, "File", {}, 0, ctl::CaptureFile},
    {ctl::CaptureFile, K::Edit, "", 134, 34, 68, 12, Border | AutoHScroll, "Capture file", {}},
    {ctl::RtsOff, K::Button, "Off", 169, 18, 15, 14, Hidden, "Off", {}},
    {ctl::RtsOn, K::Button, "On", 187, 18, 15, 14, Hidden, "On", {}},
    {ctl::DropDirectoryLabel, K::Label, "Drop directory:", 134, 54, 47, 8, 0, "Drop directory", {}, 0, ctl::DropDirectory},
    {ctl::DropDirectory, K::Edit, "", 135, 65, 54, 12, ReadOnly | Border | AutoHScroll, "Drop directory", {}},
    {ctl::Browse, K::Button, "...", 191, 64, 12, 14, 0, "...", {}},
    {ctl::Start, K::Button, "Start", 135, 84, 27, 14, 0, "Start", {}},
    {ctl::Stop, K::Button, "Stop", 176, 84, 27, 14, 0, "Stop", {}},
    {ctl::Exit, K::Button, "E&xit", 135, 105, 27, 14, 0, "Exit", {}},
    {ctl::Editor, K::Button, "&Editor", 176, 105, 27, 14, 0, "Editor", {}},
    {ctl::OutputGroup, K::GroupBox, "Output", 211, 8, 79, 116, 0, "Output", {}},
    {ctl::SendFileLabel, K::Label, "File:", 216, 24, 14, 8, 0, "File", {}, 0, ctl::SendFile},
    {ctl::SendFile, K::Edit, "", 215, 34, 70, 12, ReadOnly | Border | AutoHScroll, "Send file", {}},
    {ctl::Open, K::Button, "Open", 259, 51, 27, 14, 0, "Open", {}},
    {ctl::Animation, K::Animation, "", 215, 52, 20, 14, Transparent, "Animation", {}},
    {ctl::Mode, K::CheckBox, "Mode 1 / 2", 215, 70, 71, 10, 0, "Mode 1 / 2", {}},
    {ctl::Send, K::Button, "Send", 215, 84, 27, 14, 0, "Send", {}},
    {ctl::Abort, K::Button, "Abort", 258, 84, 27, 14, 0, "Abort", {}},
    {ctl::Progress, K::ProgressBar, "", 215, 108, 72, 10, Smooth, "Progress", {}},
    {ctl::EditorGroup, K::GroupBox, "Easy HEX editor", 6, 127, 283, 150, 0, "Easy HEX editor", {}},
    {ctl::PaneMarker, K::Label, "Static", 6, 128, 18, 8, Hidden, "Static", {}},
    {ctl::HexList, K::ListBox, "", 12, 142, 271, 77, Border | VScroll | Notify | NoSelection,
     "Hex lines", {}},
    {ctl::Overflow, K::IconLabel, "", 11, 219, 20, 20, 0, "Overflow", {}, 135},
    {ctl::FindText, K::Edit, "", 46, 222, 81, 12, Border | AutoHScroll, "Find text", {}},
    {ctl::Ascii, K::CheckBox, "ASCII", 130, 220, 35, 9, 0, "ASCII", {}},
    {ctl::Case, K::CheckBox, "CASE", 130, 228, 35, 9, 0, "CASE", {}},
    {ctl::Find, K::Button, "&Find", 168, 220, 23, 14, 0, "Find", {}},
    {ctl::New, K::Button, "&New", 193, 220, 22, 14, 0, "New", {}},
    {ctl::EditorSend, K::Button, "S&end", 216, 220, 22, 14, 0, "Send", {}},
    {ctl::Save, K::Button, "&Save", 239, 220, 22, 14, 0, "Save", {}},
    {ctl::Print, K::Button, "&Print", 261, 220, 22, 14, 0, "Print", {}},
    {ctl::IconButton, K::IconButton, "", 274, 132, 9, 9, Hidden | Disabled, "Icon button", {}},
    {ctl::Unnamed, K::Label, "Input buffer", 11, 239, 32, 18, 0, "Input buffer", {}, 0, ctl::InputBuffer},
    {ctl::InputBuffer, K::Edit, "", 46, 238, 237, 35, ReadOnly | MultiLine | VScroll | Border,
     "Input buffer", {}},
};

const ControlTemplate kRangeControls[] = {
    {ctl::range::From, K::Edit, "", 16, 4, 27, 12, Border | AutoHScroll | UpperCase, "From", {}},
    {ctl::Unnamed, K::Label, "-", 47, 6, 8, 8, 0, "-", {}},
    {ctl::range::To, K::Edit, "", 56, 4, 27, 12, Border | AutoHScroll | UpperCase, "To", {}},
};

const ControlTemplate kAboutControls[] = {
    {ctl::about::SupportIcon, K::IconLabel, "", 14, 15, 20, 20, 0, "Support page", {}, 128},
    {ctl::Unnamed, K::Label, kProductLine, 38, 13, 103, 8, Centered, kProductLine, {}},
    {ctl::Unnamed, K::Label, kMakerName, 38, 22, 103, 8, Centered, kMakerName, {}},
    {ctl::Unnamed, K::Label, kRightsLine, 38, 32, 103, 8, Centered, kRightsLine, {}},
    {ctl::about::WebSite, K::Label, kWebSite, 38, 52, 103, 8, Centered, "Web site", {}},
    {ctl::about::Mail, K::Label, "e-mail: kalvosan@brisgal.example", 38, 63, 103, 8, Centered, "e-mail", {}},
    {ctl::about::Ok, K::Button, "OK", 60, 86, 50, 14, 0, "OK", {}},
};

// clang-format on

const DialogTemplate kMain{102, "Kalvosan", "Verdana", 9, 295, 279, kMainControls};
const DialogTemplate kRange{138, "Select range:", "Verdana", 8, 103, 18, kRangeControls};
const DialogTemplate kAbout{139, "About Kalvosan..", "Verdana", 8, 169, 107, kAboutControls};

} // namespace

const DialogTemplate &mainDialogTemplate() {
    return kMain;
}
const DialogTemplate &rangeDialogTemplate() {
    return kRange;
}
const DialogTemplate &aboutDialogTemplate() {
    return kAbout;
}

std::span<const char *const> comboItems(int controlId) {
    for (const ControlTemplate &control : kMainControls) {
        if (control.id == controlId && control.kind == ControlKind::ComboBox)
            return control.items;
    }
    return {};
}

int indexByPrefix(std::span<const char *const> items, const QString &text) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (QLatin1String(items[i]).startsWith(text, Qt::CaseInsensitive))
            return int(i);
    }
    return -1;
}

} // namespace res
