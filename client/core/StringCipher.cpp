#include "client/core/StringCipher.h"

#include <cstring>

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>

namespace {
// The first 16 characters are the key, the last 16 the IV.
const char kKeyText[] = "7E2B90C4A15F38D6B3F6014D9C27E85A";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

void StringCipher::SetKey() {
    static_assert(sizeof kKeyText - 1 == 2 * kKeyLength);
    std::memcpy(key_, kKeyText, kKeyLength);
    std::memcpy(iv_, kKeyText + kKeyLength, kKeyLength);
}

std::string StringCipher::EncryptToHex(std::string_view plain) const {
    std::string input(plain);
    input.push_back('\0');
    std::string cipher;
    CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption enc(key_, kKeyLength, iv_);
    CryptoPP::StringSource(input, true,
                           new CryptoPP::StreamTransformationFilter(
                               enc, new CryptoPP::StringSink(cipher),
                               CryptoPP::BlockPaddingSchemeDef::PKCS_PADDING));
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(cipher.size() * 2);
    for (unsigned char c : cipher) {
        hex.push_back(kHex[c >> 4]);
        hex.push_back(kHex[c & 0x0F]);
    }
    return hex;
}

std::optional<std::string> StringCipher::DecryptFromHex(std::string_view hex) const {
    if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
    std::string cipher;
    cipher.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]);
        const int lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        cipher.push_back(static_cast<char>(hi << 4 | lo));
    }
    std::string plain;
    try {
        CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption dec(key_, kKeyLength, iv_);
        CryptoPP::StringSource(cipher, true,
                               new CryptoPP::StreamTransformationFilter(
                                   dec, new CryptoPP::StringSink(plain),
                                   CryptoPP::BlockPaddingSchemeDef::PKCS_PADDING));
    } catch (const CryptoPP::Exception&) {
        return std::nullopt;
    }
    const std::size_t nul = plain.find('\0');
    if (nul == std::string::npos) return std::nullopt;
    plain.resize(nul);
    return plain;
}
