#pragma once
// Opening folders and addresses with the desktop's own programs (the file manager, the
// web browser). UI thread only; false when the desktop refused.
#include <functional>
#include <string>

class QObject;

namespace plat::qt {

bool OpenLocalPath(const std::string& utf8Path);
bool OpenAddress(const std::string& url);

// The same, and the user can be told when nothing opened: the desktop's opener runs as a
// child whose end is watched from the UI thread's event loop, and `failed` is called
// there (at most once) when it could not be started or ended with a failure, as it does
// on a desktop without a program for the folder or address. An opener still running
// after kOpenerWatchMs has handed the item on; it is reaped later and counts as opened.
// The watch ends with `context`.
inline constexpr int kOpenerWatchMs = 10000;
void OpenLocalPathReported(const std::string& utf8Path, QObject* context, std::function<void()> failed);
void OpenAddressReported(const std::string& url, QObject* context, std::function<void()> failed);

}  // namespace plat::qt
