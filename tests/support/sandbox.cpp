#include "support/sandbox.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace testsupport {
namespace fs = std::filesystem;

namespace {
std::string GetEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : std::string("\x01unset");
}
void Restore(const char* name, const std::string& v) {
    if (v == "\x01unset") unsetenv(name);
    else setenv(name, v.c_str(), 1);
}
}  // namespace

Sandbox::Sandbox() {
    std::string tmpl = (fs::temp_directory_path() / "dravik-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    fs::create_directories(ConfigHome());
    fs::create_directories(DataHome());
    fs::create_directories(RuntimeDir());
    fs::permissions(RuntimeDir(), fs::perms::owner_all, fs::perm_options::replace);
    savedHome_ = GetEnv("HOME");
    savedConfig_ = GetEnv("XDG_CONFIG_HOME");
    savedData_ = GetEnv("XDG_DATA_HOME");
    savedRuntime_ = GetEnv("DRAVIK_RUNTIME_DIR");
    savedXdgRuntime_ = GetEnv("XDG_RUNTIME_DIR");
    setenv("HOME", Home().c_str(), 1);
    setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
    setenv("XDG_DATA_HOME", DataHome().c_str(), 1);
    setenv("DRAVIK_RUNTIME_DIR", RuntimeDir().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", RuntimeDir().c_str(), 1);
}

Sandbox::~Sandbox() {
    Restore("HOME", savedHome_);
    Restore("XDG_CONFIG_HOME", savedConfig_);
    Restore("XDG_DATA_HOME", savedData_);
    Restore("DRAVIK_RUNTIME_DIR", savedRuntime_);
    Restore("XDG_RUNTIME_DIR", savedXdgRuntime_);
    std::error_code ec;
    // Tests may leave read-only folders behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
}

fs::path Sandbox::Dir(const std::string& name) const {
    fs::path p = root_ / name;
    fs::create_directories(p);
    return p;
}

void WriteFile(const fs::path& p, const std::string& content) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    if (!f) throw std::runtime_error("cannot write " + p.string());
    f << content;
}

std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace testsupport
