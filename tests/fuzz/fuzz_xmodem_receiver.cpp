// The XMODEM and YMODEM receiver fed what a device sends, in pieces of every size, with time
// passing between them; and lrzsz's progress lines as its programs write them. Whatever comes,
// the receiver answers with bounded output, gives out at most what blocks carried and ends by
// its bounds.
#include "protocols/lrzsz_transfer.h"
#include "protocols/xmodem_receiver.h"
#include "tests/fuzz/fuzz_target.h"

#include <cstdlib>

KV_FUZZ_TARGET(xmodem_receiver) {
    if (size < 2)
        return 0;
    using namespace std::chrono_literals;
    const auto protocol = data[0] & 1 ? protocols::Protocol::Ymodem : protocols::Protocol::Xmodem;
    const std::size_t piece = 1 + data[1] % 200;
    protocols::XmodemReceiver receiver(protocol);
    protocols::TimePoint now{};
    receiver.start(now);
    qint64 given = 0;
    for (std::size_t at = 2; at < size && !receiver.ended(); at += piece) {
        const std::size_t n = std::min(piece, size - at);
        receiver.feed(reinterpret_cast<const char *>(data + at), qsizetype(n), now);
        now += std::chrono::milliseconds(data[at] * 40);
        if (receiver.deadline() && now >= *receiver.deadline())
            receiver.tick(now);
        if (receiver.takeOutput().size() > 64)
            std::abort();
        for (const protocols::Event &event : receiver.takeEvents())
            given += event.data.size();
        if (given > qint64(size))
            std::abort();
    }
    protocols::LrzszProgress progress;
    progress.feed(reinterpret_cast<const char *>(data), qsizetype(size));
    // Each byte kept is shown as at most four characters ("\\x1b").
    const qsizetype shown = 4 * protocols::LrzszProgress::kMaxLine;
    if (progress.bytes() < 0 || progress.lastWords().size() > shown ||
        progress.file().size() > shown)
        std::abort();
    return 0;
}
