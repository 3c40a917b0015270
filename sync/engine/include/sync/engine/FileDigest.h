#pragma once
// Content checksums of local files: the upper-case hexadecimal MD5 of the whole file,
// the same form the server reports, so equal texts (ignoring case) mean equal contents.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CSyncBase;

namespace plat { class StreamMd5; }

// Made by the caller for one pass and reused for every file. After each file it holds
// that file's last error (code 0 and an empty text after a success).
struct FileDigestHolder {
    explicit FileDigestHolder(CSyncBase* owner = nullptr) : owner(owner) {}

    CSyncBase* owner;            // its break event (and the quit event) stop a digest
    std::uint32_t errorCode = 0;
    std::string errorText;
    // The pass's clear way (see EngineFs.h): the files of one folder have their way below
    // the sync folder checked once per pass.
    std::string clearWay;

    void GetError(std::uint32_t& code, std::string& text) const {
        code = errorCode;
        text = errorText;
    }
};

namespace crypto {

// Hash identifier of MD5, the only algorithm the program uses.
constexpr std::uint32_t kAlgorithmMd5 = 32771;

// One hash object serves exactly one digest: init, update..., final.
template <std::uint32_t Algorithm>
class cryptohash_helper_t {
    static_assert(Algorithm == kAlgorithmMd5, "only MD5 is provided");

public:
    cryptohash_helper_t();
    ~cryptohash_helper_t();
    cryptohash_helper_t(const cryptohash_helper_t&) = delete;
    cryptohash_helper_t& operator=(const cryptohash_helper_t&) = delete;

    bool init();
    bool update(const std::uint8_t* data, std::uint32_t length);
    bool final();

    // The digest bytes of the whole file; empty on failure (or when a quit or a break of
    // the holder's owner came), the failure's code and text left in the holder. The file
    // is read window by window with 64-bit offsets; a file cut short while it is read
    // fails instead of giving the digest of other bytes.
    std::vector<std::uint8_t> digestfile(FileDigestHolder& holder, const std::string& utf8Path);

    std::uint32_t errorCode = 0;
    std::string errorText;
    std::vector<std::uint8_t> digest;

private:
    void SetError(const char* text, std::uint32_t code);

    // Null when no digest is under way; a long file is hashed beside its reads.
    std::unique_ptr<plat::StreamMd5> hash_;
};

extern template class cryptohash_helper_t<kAlgorithmMd5>;

}  // namespace crypto

// Two upper-case hexadecimal digits per byte ("0A"); empty for no bytes.
std::string DigestBytesToHex(const std::vector<std::uint8_t>& bytes);

// The file's digest as text; empty when none could be made (see the holder's error).
std::string FileDigestHex(FileDigestHolder& holder, const std::string& utf8Path);
