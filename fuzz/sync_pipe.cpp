// The sync program's pipe reader: the bytes the client writes on "WritePipe", fed in
// pieces of up to 100 bytes as the reader receives them. Checks: nothing is read after the
// exit byte, and a login's account and password are cut from the bytes received.
#include <vector>

#include "FuzzTarget.h"
#include "sync/app/SyncPipeLink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the read sizes and the login limit.
    const std::size_t step = 1 + data[0] % 100;
    PipeCommandReader reader(1 + (data[0] >> 4) * 16);
    std::string_view bytes = fuzz::Text(data + 1, size - 1);
    std::vector<PipeCommand> commands;
    while (!bytes.empty() && !reader.Ended()) {
        const std::string_view piece = bytes.substr(0, step);
        bytes.remove_prefix(piece.size());
        reader.Feed(piece, commands);
        if (reader.CollectingLogin() && (data[0] & 1) != 0) reader.FinishLogin(commands);
    }
    if (reader.CollectingLogin()) reader.FinishLogin(commands);
    for (const PipeCommand& command : commands) {
        if (command.login.account.size() + command.login.password.size() > size)
            fuzz::Fail("a login longer than the bytes received");
    }
    PipeCommandReader::ParseLogin(fuzz::Text(data, size));
    return 0;
}
