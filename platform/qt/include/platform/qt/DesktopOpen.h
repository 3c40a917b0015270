#pragma once
// Opening folders and addresses with the desktop's own programs (the file manager, the
// web browser). UI thread only; false when the desktop refused.
#include <string>

namespace plat::qt {

bool OpenLocalPath(const std::string& utf8Path);
bool OpenAddress(const std::string& url);

}  // namespace plat::qt
