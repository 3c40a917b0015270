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

// 32 lower-case hexadecimal digits of the bytes' MD5.
std::string Md5HexLower(std::string_view bytes);

}  // namespace plat
