#pragma once
// The cipher of saved passwords: AES-128-CBC with the program's fixed key and IV over
// the text and its terminating NUL, PKCS#7 padding, written as upper-case hexadecimal.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class StringCipher {
public:
    StringCipher() { SetKey(); }
    // Loads the program's key and IV.
    void SetKey();
    std::string EncryptToHex(std::string_view plain) const;
    // The text enciphered by EncryptToHex; nothing when the text is not hexadecimal, does
    // not decipher, or holds no terminating NUL.
    std::optional<std::string> DecryptFromHex(std::string_view hex) const;

private:
    static constexpr std::size_t kKeyLength = 16;
    std::uint8_t key_[kKeyLength] = {};
    std::uint8_t iv_[kKeyLength] = {};
};
