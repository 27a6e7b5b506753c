#pragma once

#include <QString>

class TerminalDialog;

// The window's settings between runs (platform/stored_settings.h). Restore writes the stored
// values into the controls (the members follow at the next data exchange); save writes the
// controls' texts back.
namespace SettingsStore {

void restore(TerminalDialog &dialog);
void save(TerminalDialog &dialog);

} // namespace SettingsStore
