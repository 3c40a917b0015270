#include "support/twosides.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "support/sandbox.h"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// "/a/b" and "a/b" name the same item; "" and "/" name no item.
std::string Relative(const std::string& path) {
    const std::size_t start = path.find_first_not_of('/');
    if (start == std::string::npos) {
        throw std::invalid_argument("a side's item needs a path below its root: '" + path + "'");
    }
    return path.substr(start);
}

// The control interface's paths start at the home folder: "/a/b".
std::string ServerPath(const std::string& path) { return "/" + Relative(path); }

}  // namespace

void TreeSide::Seed(const std::map<std::string, std::string>& items) {
    for (const auto& [path, content] : items) {
        if (!path.empty() && path.back() == '/') {
            Mkdir(path.substr(0, path.size() - 1));
        } else {
            Write(path, content);
        }
    }
}

// ---------------------------------------------------------------- local disk

fs::path LocalSide::At(const std::string& path) const { return root_ / Relative(path); }

void LocalSide::Write(const std::string& path, const std::string& content) { WriteFile(At(path), content); }

void LocalSide::Mkdir(const std::string& path) { fs::create_directories(At(path)); }

void LocalSide::Remove(const std::string& path) { fs::remove_all(At(path)); }

void LocalSide::Rename(const std::string& from, const std::string& to) { fs::rename(At(from), At(to)); }

TreeImage LocalSide::Image() const {
    TreeImage image;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string relative = "/" + fs::relative(it->path(), root_, ec).generic_string();
        if (it->is_directory(ec)) {
            image[relative] = "folder";
        } else if (it->is_regular_file(ec)) {
            // A file may go while it is read (a download's temporary file is renamed away).
            std::ifstream file(it->path(), std::ios::binary);
            std::ostringstream content;
            content << file.rdbuf();
            image[relative] = file ? "file:" + content.str() : std::string("<unreadable>");
        }
    }
    return image;
}

// ---------------------------------------------------------------- test server

void ServerSide::Write(const std::string& path, const std::string& content) {
    server_.PutFile(account_, ServerPath(path), content);
}

void ServerSide::Mkdir(const std::string& path) { server_.MakeFolder(account_, ServerPath(path)); }

void ServerSide::Remove(const std::string& path) { server_.Remove(account_, ServerPath(path)); }

void ServerSide::Rename(const std::string& from, const std::string& to) {
    server_.Move(account_, ServerPath(from), ServerPath(to));
}

TreeImage ServerSide::Image() const {
    TreeImage image;
    for (const testserver::TreeEntry& entry : server_.Tree(account_, true)) {
        image[entry.path] = entry.folder ? std::string("folder") : "file:" + entry.content;
    }
    return image;
}

// ---------------------------------------------------------------- the check

std::string DescribeDifference(const TreeImage& local, const TreeImage& server) {
    std::ostringstream out;
    for (const auto& [path, value] : local) {
        const auto it = server.find(path);
        if (it == server.end()) {
            out << "  local only: " << path << "\n";
        } else if (it->second != value) {
            out << "  differs: " << path << " local '" << value << "' server '" << it->second << "'\n";
        }
    }
    for (const auto& [path, value] : server) {
        if (local.count(path) == 0) out << "  server only: " << path << "\n";
    }
    return out.str();
}

::testing::AssertionResult SameTrees(const TreeSide& local, const TreeSide& server) {
    const TreeImage localImage = local.Image();
    const TreeImage serverImage = server.Image();
    if (localImage == serverImage) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the local tree and the server tree differ:\n"
                                         << DescribeDifference(localImage, serverImage);
}

}  // namespace testsupport
