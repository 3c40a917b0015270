#pragma once
// The bounds every call of both programs keeps, in one place: how much of a reply may be
// held in memory, how long a listing may take in all, and how slow a transfer may get
// before it ends. The numbers are generous: they only end calls of a server that floods
// or trickles. Each program carries a copy in its own limits (so tests can shorten it)
// and hands it to the exchange with every request.
//
// Also here: the one way a reply body reaches a log line (LogExcerpt), so a huge or
// hostile error body never becomes a huge or broken log line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace http {

struct Bounds {
    // A reply kept in memory (a listing, a JSON answer) may hold this many bytes at most.
    std::int64_t replyCeiling = std::int64_t{64} << 20;
    // The sync program's listing of the whole account grows with it (some 350 bytes an
    // item): its own ceiling leaves room for about three million items.
    std::int64_t listingReplyCeiling = std::int64_t{1} << 30;
    // A refused reply's body (status 400 or more), kept only to be logged.
    std::int64_t errorReplyCeiling = std::int64_t{1} << 20;
    // A listing ends after this long in all.
    std::int64_t listingTotalMs = 15 * 60 * 1000;
    // A call whose average speed stays below this many bytes a second...
    long minSpeedBytes = 256;
    // ...over this many seconds ends as timed out.
    long minSpeedWindowSeconds = 60;
};

// Bytes of a reply body a log line shows at most.
constexpr std::size_t kLoggedBodyBytes = 2048;

// The first kLoggedBodyBytes of `body` for a log line: control characters and DEL as
// "\n", "\r", "\t" or "\xHH", a backslash doubled, and, when the body was longer,
// "... (N bytes)" after the excerpt.
std::string LogExcerpt(std::string_view body);

}  // namespace http
