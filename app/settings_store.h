#pragma once

#include <QString>

class QComboBox;
class TerminalDialog;

// The window's settings between runs (platform/stored_settings.h). Restore writes the stored
// values into the controls (the members follow at the next data exchange); save writes the
// controls' texts back.
namespace SettingsStore {

void restore(TerminalDialog &dialog);
void save(TerminalDialog &dialog);

// Selects the first item, from the top, that begins with text (ignoring case); a text that
// matches no item leaves the selection as it is. Returns whether an item was selected.
bool selectByPrefix(QComboBox *combo, const QString &text);

} // namespace SettingsStore
