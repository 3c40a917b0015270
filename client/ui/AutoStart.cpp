#include "client/ui/AutoStart.h"

#include "platform/fileops.h"

namespace {

constexpr std::string_view kGroup = "[Desktop Entry]";

// Exec quoting: the argument in double quotes with '"', '`', '$' and '\' escaped, '%'
// doubled (no field code); then the string escape of the file, where '\' is written "\\".
std::string QuoteExec(const std::string& argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
        if (c == '%') quoted.push_back('%');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    std::string out;
    for (const char c : quoted) {
        if (c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// The string escapes of a desktop entry value: \s \n \t \r \\.
std::string UnescapeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out.push_back(value[i]);
            continue;
        }
        switch (const char c = value[++i]) {
            case 's': out.push_back(' '); break;
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            default: out.push_back(c); break;
        }
    }
    return out;
}

// Splits an Exec command into its arguments; nothing when a quote is left open.
std::optional<std::vector<std::string>> SplitExec(const std::string& command) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    while (i < command.size()) {
        if (command[i] == ' ' || command[i] == '\t') {
            ++i;
            continue;
        }
        std::string argument;
        if (command[i] == '"') {
            bool closed = false;
            for (++i; i < command.size(); ++i) {
                if (command[i] == '\\' && i + 1 < command.size()) {
                    argument.push_back(command[++i]);
                } else if (command[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                } else {
                    argument.push_back(command[i]);
                }
            }
            if (!closed) return std::nullopt;
        } else {
            while (i < command.size() && command[i] != ' ' && command[i] != '\t') argument.push_back(command[i++]);
        }
        std::string unpercent;
        for (std::size_t k = 0; k < argument.size(); ++k) {
            unpercent.push_back(argument[k]);
            if (argument[k] == '%' && k + 1 < argument.size() && argument[k + 1] == '%') ++k;
        }
        arguments.push_back(std::move(unpercent));
    }
    return arguments;
}

}  // namespace

AutoStartEntry::AutoStartEntry(std::string executable, std::string configHome)
    : executable_(std::move(executable)), configHome_(std::move(configHome)) {}

std::string AutoStartEntry::Path() const {
    return plat::fs::Join(plat::fs::Join(configHome_, "autostart"), std::string(kName) + ".desktop");
}

std::optional<std::string> AutoStartEntry::EntryText(const std::string& executable) {
    if (executable.empty() || executable.find_first_of("\r\n") != std::string::npos) return std::nullopt;
    return std::string(kGroup) +
           "\n"
           "Type=Application\n"
           "Name=Dravik Client\n"
           "Exec=" +
           QuoteExec(executable) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::vector<std::string>> AutoStartEntry::ExecArguments(std::string_view text) {
    bool inGroup = false;
    std::optional<std::string> exec;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inGroup = line == kGroup;
            continue;
        }
        if (!inGroup) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        if (key == "Hidden" && value == "true") return std::nullopt;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return std::nullopt;
        if (key == "Exec" && !exec) exec = UnescapeValue(value);
    }
    if (!exec) return std::nullopt;
    return SplitExec(*exec);
}

bool AutoStartEntry::IsEnabled() const {
    std::string text;
    if (plat::fs::ReadWholeFile(Path(), text) != plat::fs::ReadResult::Read) return false;
    const auto arguments = ExecArguments(text);
    return arguments && *arguments == std::vector<std::string>{executable_};
}

bool AutoStartEntry::Set(bool on) {
    const std::string path = Path();
    if (!on) return plat::fs::RemoveFile(path) || plat::fs::GetKind(path) == plat::fs::Kind::Missing;
    const auto text = EntryText(executable_);
    if (!text) return false;
    return plat::fs::MakeDirectories(plat::fs::Join(configHome_, "autostart")) &&
           plat::fs::WriteFileAtomic(path, *text, 0644);
}
