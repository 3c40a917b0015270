#pragma once
// The numbers a directory watch speaks in: the system error codes it reports (0 =
// success), the kinds of notification, the bits of the watcher's filter word, and the
// one exclude pattern every watch uses. Plain constants, shared by the handler, the
// delayed delivery and the watcher.
#include <cstdint>

namespace dirwatch {

// System error codes of the watcher (0 = success).
inline constexpr std::uint32_t kErrorFileNotFound = 2;      // the watched folder was deleted
inline constexpr std::uint32_t kErrorPathNotFound = 3;      // the watched folder was moved away
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorNotReady = 21;         // its file system was unmounted
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorBadPathname = 161;     // not a folder
inline constexpr std::uint32_t kErrorNoThread = 164;
inline constexpr std::uint32_t kErrorNotifyEnumDir = 1022;  // events were lost: list the folder again
inline constexpr std::uint32_t kErrorNoSystemResources = 1450;

// Notification kinds (also the `action` passed to On_AcceptNotification).
inline constexpr std::uint32_t kAdded = 1;
inline constexpr std::uint32_t kRemoved = 2;
inline constexpr std::uint32_t kModified = 3;
inline constexpr std::uint32_t kNameChanged = 4;
inline constexpr std::uint32_t kWatchError = 5;
inline constexpr std::uint32_t kWatchStarted = 6;
inline constexpr std::uint32_t kWatchStopped = 7;

// Filter flags (the watcher's filter word, default kFileNameOnly).
inline constexpr std::uint32_t kNoWildcards = 1;        // no pattern tests
inline constexpr std::uint32_t kRelativeNames = 4;      // test names relative to the watched folder
inline constexpr std::uint32_t kFileNameOnly = 8;       // test the last path component alone
inline constexpr std::uint32_t kAskHandlerFirst = 16;   // On_AcceptNotification before the patterns
inline constexpr std::uint32_t kNeverAskHandler = 32;   // never On_AcceptNotification
inline constexpr std::uint32_t kNoStartNotice = 64;     // no On_WatchStarted
inline constexpr std::uint32_t kNoStopNotice = 128;     // no On_WatchStopped (any word >= 128)

// The exclude pattern every watch uses, whatever the caller passes.
inline constexpr char16_t kExcludedPattern[] = u"*.tmp";

}  // namespace dirwatch
