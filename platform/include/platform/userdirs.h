#pragma once
// Per-user folders: the XDG folders and the runtime folder for named objects. HOME and
// the XDG variables make tests hermetic.
#include <string>

namespace plat {

std::string HomeDir();          // $HOME
std::string ConfigHome();       // $XDG_CONFIG_HOME, else $HOME/.config
std::string DataHome();         // $XDG_DATA_HOME, else $HOME/.local/share
std::string DocumentsDir();     // $XDG_DOCUMENTS_DIR, else $HOME/Documents
std::string CacheHome();        // $XDG_CACHE_HOME, else $HOME/.cache
// $DRAVIK_RUNTIME_DIR, else $XDG_RUNTIME_DIR/dravik, else /tmp/dravik-<uid>, or, when
// that name is taken by something this user cannot make private (another user's folder,
// a link, a file), $XDG_CACHE_HOME/dravik-runtime; created mode 0700 and checked to
// belong to this user. Empty when it cannot be made safe.
std::string RuntimeDir();
// `shared` when it can be made a private folder of this user, else `own` when that can;
// empty when neither can.
std::string ChooseRuntimeDir(const std::string& shared, const std::string& own);
// Full path of the running executable; empty when it cannot be read.
std::string ExecutablePath();
// Folder of the running executable.
std::string ExecutableDir();

}  // namespace plat
