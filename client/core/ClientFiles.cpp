#include "client/core/ClientFiles.h"

#include "platform/fileops.h"
#include "platform/userdirs.h"

std::string ClientDataDirectory() { return plat::DataHome() + "/Dravik/DravikClient"; }

std::string BesideExecutableDirectory() {
    const std::string exeDir = plat::ExecutableDir();
    if (!exeDir.empty() && plat::fs::IsWritable(exeDir)) return exeDir;
    const std::string fallback = plat::ConfigHome() + "/Dravik/DravikClient";
    plat::fs::MakeDirectories(fallback);
    return fallback;
}

FileRead ReadWholeFile(const std::string& path, std::string& content) {
    return plat::fs::ReadWholeFile(path, content);
}

bool WriteFileReplacing(const std::string& path, std::string_view content, mode_t mode) {
    return plat::fs::WriteFileAtomic(path, content, static_cast<std::uint32_t>(mode));
}

std::string SetFileAside(const std::string& path) { return plat::fs::SetAside(path); }

int MakeFilePrivate(const std::string& path) { return plat::fs::MakeFilePrivate(path); }

bool MakePrivateFolder(const std::string& path) { return plat::fs::MakePrivateDirectories(path); }
