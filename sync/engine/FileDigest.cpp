#include "sync/engine/FileDigest.h"

#include <algorithm>

#include "platform/fileops.h"
#include "platform/longpath.h"
#include "platform/md5.h"
#include "platform/mmfio.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncBase.h"
#include "sync/common/unicode.h"

namespace {

constexpr char kAlreadyAcquired[] = "Cryptographic provider already acquired!";
constexpr char kNotAcquired[] = "Cryptographic provider not acquired!";
constexpr char kNoSize[] = " could not get size";
constexpr char kNotOpened[] = " could not be opened";
constexpr char kCutShort[] = " changed while it was read";

void SetHolderError(FileDigestHolder& holder, std::uint32_t code, std::string text) {
    holder.errorCode = code;
    holder.errorText = std::move(text);
}

}  // namespace

namespace crypto {

template <std::uint32_t Algorithm>
cryptohash_helper_t<Algorithm>::cryptohash_helper_t() = default;

template <std::uint32_t Algorithm>
cryptohash_helper_t<Algorithm>::~cryptohash_helper_t() = default;

template <std::uint32_t Algorithm>
void cryptohash_helper_t<Algorithm>::SetError(const char* text, std::uint32_t code) {
    errorCode = code;
    errorText = text;
}

template <std::uint32_t Algorithm>
bool cryptohash_helper_t<Algorithm>::init() {
    SetError("", 0);
    if (hash_) {
        SetError(kAlreadyAcquired, 0);
        return false;
    }
    digest.clear();
    hash_ = std::make_unique<plat::StreamMd5>();
    return true;
}

template <std::uint32_t Algorithm>
bool cryptohash_helper_t<Algorithm>::update(const std::uint8_t* data, std::uint32_t length) {
    SetError("", 0);
    if (!hash_) {
        SetError(kNotAcquired, 0);
        return false;
    }
    hash_->Update(data, length);
    return true;
}

template <std::uint32_t Algorithm>
bool cryptohash_helper_t<Algorithm>::final() {
    SetError("", 0);
    if (!hash_) {
        SetError(kNotAcquired, 0);
        return false;
    }
    const std::string hex = hash_->FinalHexLower();
    hash_.reset();  // one object, one digest
    digest.clear();
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        digest.push_back(
            static_cast<std::uint8_t>(BaseFunc::HexDigitValue(hex[i]) * 16 + BaseFunc::HexDigitValue(hex[i + 1])));
    }
    return !digest.empty();
}

template <std::uint32_t Algorithm>
std::vector<std::uint8_t> cryptohash_helper_t<Algorithm>::digestfile(FileDigestHolder& holder,
                                                                     const std::string& utf8Path) {
    SetHolderError(holder, 0, std::string());
    std::u16string wide;
    std::u16string normalised;
    // A path that cannot be converted or normalised names no file we can size.
    if (!UTF8toUTF16(utf8Path, wide) || !NormalizeLongPath(wide, normalised)) {
        SetHolderError(holder, 0, utf8Path + kNoSize);
        return {};
    }
    std::string native;
    const std::uint64_t size = UTF16toUTF8(normalised, native) ? plat::fs::FileSize(native) : UINT64_MAX;
    if (size == UINT64_MAX) {
        SetHolderError(holder, 0, utf8Path + kNoSize);
        return {};
    }
    if (size == 0) {
        if (init()) final();
        SetHolderError(holder, errorCode, errorText);
        return digest;
    }

    CWinMMFIO file(CWinMMFIO::Flavour::Sync);
    if (!file.Open(normalised, 0)) {
        SetHolderError(holder, 0, utf8Path + kNotOpened);
        return {};
    }
    // The length the file had when it was opened, 64-bit: every byte of it is hashed.
    const std::uint64_t total = file.fileSize;
    std::uint64_t hashed = 0;
    bool cutShort = false;
    if (init()) {
        while (hashed < total) {
            if (holder.owner != nullptr &&
                IsStopResult(holder.owner->CheckBreak("crypto::cryptohash_helper_t<32771>::digestfile", 292))) {
                break;
            }
            // Each window must start where the last one ended and hold the bytes the
            // opened length promises; anything else means the file shrank meanwhile.
            const std::uint64_t expected = std::min<std::uint64_t>(file.windowSize, total - hashed);
            if (file.viewOffset != hashed || file.viewBase == nullptr || file.viewSize != expected) {
                cutShort = true;
                break;
            }
            if (!update(file.viewBase, file.viewSize)) break;
            hashed += file.viewSize;
            if (hashed < total && !file.NextView()) {
                cutShort = true;
                break;
            }
        }
        if (hashed == total) {
            final();
        } else {
            hash_.reset();
            digest.clear();
        }
    }
    if (cutShort) {
        SetHolderError(holder, 0, utf8Path + kCutShort);
    } else {
        SetHolderError(holder, errorCode, errorText);
    }
    file.Close();
    return digest;
}

template class cryptohash_helper_t<kAlgorithmMd5>;

}  // namespace crypto

std::string DigestBytesToHex(const std::vector<std::uint8_t>& bytes) {
    std::string text(bytes.size() * 2, '0');
    BaseFunc::WriteHexDigits(bytes.data(), bytes.size(), false, text.data());
    return text;
}

std::string FileDigestHex(FileDigestHolder& holder, const std::string& utf8Path) {
    crypto::cryptohash_helper_t<crypto::kAlgorithmMd5> hash;
    return DigestBytesToHex(hash.digestfile(holder, utf8Path));
}
