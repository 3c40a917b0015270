#pragma once
// File contents kept on disk. A blob is written once and never changed; items share it
// through shared pointers (a copy shares its source's blob), and the last holder removes
// the file. A download holds the blob while it streams, so a concurrent overwrite or
// purge never changes the bytes it sends.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace testserver {

class Blob {
public:
    ~Blob();
    Blob(const Blob&) = delete;
    Blob& operator=(const Blob&) = delete;

    // Writes the bytes into a new file below dir. Throws std::runtime_error on failure.
    static std::shared_ptr<const Blob> Write(const std::filesystem::path& dir, std::string_view bytes);
    // Copies a local file into a new blob below dir, computing its digest on the way.
    static std::shared_ptr<const Blob> CopyFile(const std::filesystem::path& dir,
                                                const std::filesystem::path& source);

    std::int64_t Size() const { return size_; }
    const std::string& Md5() const { return md5_; }  // upper-case hex
    std::string ReadAll() const;
    // Opens the file for reading (close-on-exec); null on failure.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> Open() const;

private:
    Blob(std::filesystem::path path, std::int64_t size, std::string md5);
    static std::filesystem::path NewPath(const std::filesystem::path& dir);

    std::filesystem::path path_;
    std::int64_t size_;
    std::string md5_;
};

using BlobPtr = std::shared_ptr<const Blob>;

}  // namespace testserver
