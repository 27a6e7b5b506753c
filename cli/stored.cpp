#include "cli/stored.h"

#include "platform/stored_settings.h"

namespace cli {

Stored readStored() {
    const platform::StoredSettings settings;
    if (!settings.readable())
        return {};
    namespace key = platform::stored;
    Stored stored;
    stored.baud = settings.text(key::Baud);
    stored.dataBits = settings.text(key::DataBits);
    stored.stopBits = settings.text(key::StopBits);
    stored.parity = settings.text(key::Parity);
    stored.flow = settings.text(key::Flow);
    stored.delay = settings.text(key::Delay);
    stored.captureFile = settings.text(key::CaptureFile);
    stored.dropDirectory = settings.text(key::DropDirectory);
    stored.mode2 = settings.mode2();
    stored.arrivalTimes = settings.flag(key::ArrivalTimes);
    return stored;
}

void storeCaptureFile(const QString &name) {
    platform::StoredSettings settings;
    if (!settings.writable())
        return;
    settings.setText(platform::stored::CaptureFile, name);
    settings.sync();
}

} // namespace cli
