// The program's dialogs as data: for each control its id, kind, caption, rectangle in dialog
// units and styles. The dialog builder turns a template into widgets.
#pragma once

#include "res/product.h"

#include <QString>
#include <span>

namespace res {

enum class ControlKind {
    GroupBox,
    Label,
    IconLabel,
    ComboBox,
    Edit,
    Button,
    CheckBox,
    Animation,
    ProgressBar,
    ListBox,
    IconButton,
};

// Styles of a control, as flags.
enum Style : unsigned {
    Hidden = 1u << 0,
    Disabled = 1u << 1,
    ReadOnly = 1u << 2,
    AlignRight = 1u << 3,
    Editable = 1u << 4, // a combo box with an edit field
    MultiLine = 1u << 5,
    VScroll = 1u << 6,
    UpperCase = 1u << 7,
    Centered = 1u << 8,
    ArrowLeft = 1u << 9, // a combo box with its arrow on the left
    NoSelection = 1u << 10,
    Notify = 1u << 11,
    Transparent = 1u << 12,
    Smooth = 1u << 13,
    AutoHScroll = 1u << 14,
    Border = 1u << 15,
};

struct ControlTemplate {
    int id; // -1 for controls the program never addresses
    ControlKind kind;
    const char *caption;
    int x, y, width, height; // dialog units
    unsigned styles;
    const char *accessibleName;         // what screen readers and tests call the control
    std::span<const char *const> items; // the list of a combo box, in its order
    int iconId = 0;                     // the icon of an icon label
    int buddyId = 0;                    // the control a label names (0: none)
};

struct DialogTemplate {
    int id;
    const char *caption;
    const char *fontFamily;
    int pointSize;
    int width, height; // dialog units
    std::span<const ControlTemplate> controls;
};

const DialogTemplate &mainDialogTemplate(); // 102
// The list of a combo box of the main window, in its order (empty for any other control).
std::span<const char *const> comboItems(int controlId);
// The first item, from the top, that begins with text, ignoring case; -1 when none does. The
// stored settings select their combo box item this way ("8" selects "8", "no" selects "None").
int indexByPrefix(std::span<const char *const> items, const QString &text);
const DialogTemplate &rangeDialogTemplate(); // 138
const DialogTemplate &aboutDialogTemplate(); // 139

// The window's title while a transfer runs, and the texts of the About box.
inline constexpr const char *kVersionTitle = "Kalvosan v" KALVOSAN_VERSION;
inline constexpr const char *kProductLine = "Kalvosan Version " KALVOSAN_VERSION;
inline constexpr const char *kMakerName = "Brisgal";
inline constexpr const char *kRightsLine = "Copyright (C) 2003-2026 Brisgal";
inline constexpr const char *kWebSite = "https://brisgal.example";
inline constexpr const char *kSupportPage = "https://brisgal.example/support";
inline constexpr const char *kMailAddress = "kalvosan@brisgal.example";

} // namespace res
