#pragma once
// A hermetic test environment: a temporary folder holding HOME, the XDG folders and the
// runtime folder, exported through the environment for the test's lifetime and removed
// afterwards. No test touches the real home folder.
#include <filesystem>
#include <string>

namespace testsupport {

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path Home() const { return root_ / "home"; }
    std::filesystem::path ConfigHome() const { return root_ / "home/.config"; }
    std::filesystem::path DataHome() const { return root_ / "home/.local/share"; }
    std::filesystem::path RuntimeDir() const { return root_ / "run"; }
    // A fresh folder below the sandbox, created on demand.
    std::filesystem::path Dir(const std::string& name) const;

private:
    std::filesystem::path root_;
    std::string savedHome_, savedConfig_, savedData_, savedRuntime_, savedXdgRuntime_;
};

// Writes a file (creating its folders) and reads one back whole.
void WriteFile(const std::filesystem::path& p, const std::string& content);
std::string ReadFile(const std::filesystem::path& p);

}  // namespace testsupport
