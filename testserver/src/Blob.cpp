#include "Blob.h"

#include <atomic>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "Text.h"

namespace testserver {

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePtr OpenFile(const std::filesystem::path& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode), &std::fclose);
}

}  // namespace

Blob::Blob(std::filesystem::path path, std::int64_t size, std::string md5)
    : path_(std::move(path)), size_(size), md5_(std::move(md5)) {}

Blob::~Blob() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

std::filesystem::path Blob::NewPath(const std::filesystem::path& dir) {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t salt = std::random_device{}();
    char name[64];
    std::snprintf(name, sizeof name, "tsblob-%016llx-%llu", static_cast<unsigned long long>(salt),
                  static_cast<unsigned long long>(++counter));
    return dir / name;
}

std::shared_ptr<const Blob> Blob::Write(const std::filesystem::path& dir, std::string_view bytes) {
    const std::filesystem::path path = NewPath(dir);
    // "x": never reuse a file that is already there; "e": close-on-exec.
    FilePtr file = OpenFile(path, "wbxe");
    if (!file) throw std::runtime_error("cannot create " + path.string());
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool closed = std::fclose(file.release()) == 0;
    std::shared_ptr<const Blob> blob(
        new Blob(path, static_cast<std::int64_t>(bytes.size()), Md5HexUpper(bytes)));
    if (!written || !closed) throw std::runtime_error("cannot write " + path.string());
    return blob;
}

std::shared_ptr<const Blob> Blob::CopyFile(const std::filesystem::path& dir,
                                           const std::filesystem::path& source) {
    FilePtr in = OpenFile(source, "rbe");
    if (!in) throw std::runtime_error("cannot read " + source.string());
    const std::filesystem::path path = NewPath(dir);
    FilePtr out = OpenFile(path, "wbxe");
    if (!out) throw std::runtime_error("cannot create " + path.string());
    // From here on the blob owns the file, so every failure removes it.
    std::shared_ptr<Blob> blob(new Blob(path, 0, ""));
    Md5Stream md5;
    std::vector<char> buffer(1 << 16);
    std::int64_t total = 0;
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (n > 0) {
            md5.Update(buffer.data(), n);
            if (std::fwrite(buffer.data(), 1, n, out.get()) != n)
                throw std::runtime_error("cannot write " + path.string());
            total += static_cast<std::int64_t>(n);
        }
        if (n < buffer.size()) break;
    }
    if (std::ferror(in.get())) throw std::runtime_error("cannot read " + source.string());
    if (std::fclose(out.release()) != 0) throw std::runtime_error("cannot write " + path.string());
    blob->size_ = total;
    blob->md5_ = md5.FinalHexUpper();
    return blob;
}

std::string Blob::ReadAll() const {
    FilePtr file = Open();
    if (!file) throw std::runtime_error("cannot read " + path_.string());
    std::string bytes(static_cast<std::size_t>(size_), '\0');
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        throw std::runtime_error("cannot read " + path_.string());
    return bytes;
}

std::unique_ptr<std::FILE, int (*)(std::FILE*)> Blob::Open() const { return OpenFile(path_, "rbe"); }

}  // namespace testserver
