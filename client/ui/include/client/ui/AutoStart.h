#pragma once
// Starting the client with the desktop session: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/DravikClient.desktop, whose command is the executable's full
// path. The entry counts as set only when it exists, is not hidden or disabled, and runs
// exactly this executable (an entry of another copy of the program shows as cleared).
// Written through a temporary file and a rename; any thread.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class AutoStartEntry {
public:
    static constexpr const char* kName = "DravikClient";

    // The entry of `executable` below `configHome` (normally plat::ConfigHome()).
    AutoStartEntry(std::string executable, std::string configHome);

    std::string Path() const;
    bool IsEnabled() const;
    // Writes (on) or removes (off) the entry; true when it is as asked afterwards.
    bool Set(bool on);

    // The desktop entry's text for `executable` (quoted as the Exec key needs it); nothing
    // when the path cannot be written there (a line break in it).
    static std::optional<std::string> EntryText(const std::string& executable);
    // The arguments of the "Exec" key of the "[Desktop Entry]" group, unquoted; nothing
    // when the entry has none, cannot be read, or is hidden or disabled.
    static std::optional<std::vector<std::string>> ExecArguments(std::string_view entryText);

private:
    std::string executable_;
    std::string configHome_;
};
