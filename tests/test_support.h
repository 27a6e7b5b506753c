// Helpers of the test programs with the window: a recorder for message boxes, the started
// window; and the widget-free ones of test_pty.h.
#pragma once

#include "platform/ui.h"
#include "tests/test_pty.h"

#include <QString>
#include <memory>
#include <vector>

class TerminalDialog;

namespace testsupport {

// Installs an answerer for message boxes for the life of the object and records them.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    const std::vector<platform::MessageRecord> &messages() const { return m_messages; }
    QString lastText() const { return m_messages.empty() ? QString() : m_messages.back().text; }
    void clear() { m_messages.clear(); }

private:
    std::vector<platform::MessageRecord> m_messages;
};

// A main window after its start-up (libkalvosan.so loaded from the test's directory), with
// the settings of earlier tests cleared first; null when the start-up failed. With startDir,
// the window is started in that directory, as if the program had been started there.
std::unique_ptr<TerminalDialog> startedDialog(bool show = true, const QString &startDir = {});

// Whether this process holds path open (one of its descriptors names it).
bool openInThisProcess(const QString &path);

} // namespace testsupport
