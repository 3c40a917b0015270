#include "platform/md5.h"

#ifndef CRYPTOPP_ENABLE_NAMESPACE_WEAK
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#endif
#include <cryptopp/md5.h>

namespace plat {

struct Md5::Impl {
    CryptoPP::Weak::MD5 hash;
};

Md5::Md5() : impl_(std::make_unique<Impl>()) {}
Md5::~Md5() = default;

void Md5::Update(const void* data, std::size_t size) {
    if (size == 0) return;
    impl_->hash.Update(static_cast<const CryptoPP::byte*>(data), size);
}

std::string Md5::FinalHexLower() {
    CryptoPP::byte digest[CryptoPP::Weak::MD5::DIGESTSIZE];
    impl_->hash.Final(digest);  // Final also restarts the hash
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(sizeof digest * 2);
    for (CryptoPP::byte b : digest) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
    }
    return out;
}

std::string Md5HexLower(std::string_view bytes) {
    Md5 md5;
    md5.Update(bytes.data(), bytes.size());
    return md5.FinalHexLower();
}

}  // namespace plat
