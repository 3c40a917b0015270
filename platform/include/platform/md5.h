#pragma once
// MD5 digests (Crypto++).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace plat {

class Md5 {
public:
    Md5();
    ~Md5();
    void Update(const void* data, std::size_t size);
    // Finishes the digest; 32 lower-case hexadecimal digits. The object is reset.
    std::string FinalHexLower();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// MD5 of a long stream (a download, a large file's digest), worked out beside the thread
// that feeds it. The first kBlockBytes are hashed at once; beyond them bytes are gathered
// into blocks of kBlockBytes that a helper thread hashes while the feeder goes on reading,
// receiving or writing.
// At most kBlocks blocks exist, so memory stays flat whatever the stream's length; a
// feeder that gets ahead waits for a free block. A short stream never allocates a block
// or starts the thread; without memory or a thread every byte is hashed at once. One
// object serves one stream: Update..., then FinalHexLower once.
class StreamMd5 {
public:
    static constexpr std::size_t kBlockBytes = std::size_t(1) << 20;
    static constexpr std::size_t kBlocks = 4;

    StreamMd5();
    ~StreamMd5();
    StreamMd5(const StreamMd5&) = delete;
    StreamMd5& operator=(const StreamMd5&) = delete;

    void Update(const void* data, std::size_t size);
    // Waits for the helper, then 32 lower-case hexadecimal digits of every byte fed.
    std::string FinalHexLower();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// 32 lower-case hexadecimal digits of the bytes' MD5.
std::string Md5HexLower(std::string_view bytes);

}  // namespace plat
