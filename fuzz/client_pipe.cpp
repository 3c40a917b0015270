// The client's pipe reader: the bytes the sync program writes on "ReadPipe", in reads of
// up to 100 bytes as the reader takes them. Checks: only the three known messages come
// out, and nothing after the exit byte.
#include <vector>

#include "FuzzTarget.h"
#include "client/local/SyncProgramLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint32_t> messages;
    for (std::size_t at = 0; at < size; at += kSyncPipeReadSize) {
        const std::size_t count = size - at < kSyncPipeReadSize ? size - at : kSyncPipeReadSize;
        const std::size_t before = messages.size();
        const bool ended = ScanSyncReplies(data + at, count, messages);
        for (std::size_t i = before; i < messages.size(); ++i) {
            const std::uint32_t m = messages[i];
            if (m != WM_SYNC_EXIT && m != WM_SYNC_PAUSED && m != WM_SYNC_RESUMED) fuzz::Fail("an unknown message");
            if (m == WM_SYNC_EXIT && i + 1 != messages.size()) fuzz::Fail("a message after the exit");
        }
        if (ended) break;
    }
    return 0;
}
