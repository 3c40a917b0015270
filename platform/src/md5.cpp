#include "platform/md5.h"

#ifndef CRYPTOPP_ENABLE_NAMESPACE_WEAK
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#endif
#include <cryptopp/md5.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

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

struct StreamMd5::Impl {
    Md5 hash;
    // The first block's worth is hashed at once (most streams are short); from then on the
    // bytes go through the blocks to the helper.
    std::uint64_t hashedAtOnce = 0;
    bool buffering = false;
    bool direct = false;  // no blocks or no helper to be had: every byte is hashed at once
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    std::vector<std::size_t> fill;  // bytes held by each block
    std::size_t current = 0;        // the block being filled
    bool started = false;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::size_t> full;  // blocks waiting for the helper, in stream order
    std::deque<std::size_t> free;  // blocks the feeder may fill next
    bool ending = false;
    std::thread helper;

    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !full.empty() || ending; });
            if (full.empty()) return;
            const std::size_t block = full.front();
            full.pop_front();
            lock.unlock();
            hash.Update(blocks[block].get(), fill[block]);
            lock.lock();
            fill[block] = 0;
            free.push_back(block);
            changed.notify_all();
        }
    }

    bool StartBuffering() {
        try {
            blocks.resize(kBlocks);
            for (auto& block : blocks) block.reset(new unsigned char[kBlockBytes]);  // not zeroed
        } catch (const std::bad_alloc&) {
            blocks.clear();
            return false;
        }
        fill.assign(kBlocks, 0);
        buffering = true;
        return true;
    }

    // Hands the filled block to the helper and takes a free one (waiting for it). False
    // when no helper could be started: the block was hashed here instead.
    bool HandOver() {
        std::unique_lock<std::mutex> lock(mutex);
        if (!started) {
            try {
                helper = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                lock.unlock();
                hash.Update(blocks[current].get(), fill[current]);
                fill[current] = 0;
                return false;
            }
            started = true;
            for (std::size_t i = 1; i < kBlocks; ++i) free.push_back(i);
        }
        full.push_back(current);
        changed.notify_all();
        changed.wait(lock, [this] { return !free.empty(); });
        current = free.front();
        free.pop_front();
        return true;
    }

    void Stop() {
        if (!helper.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            ending = true;
        }
        changed.notify_all();
        helper.join();
    }
};

StreamMd5::StreamMd5() : impl_(std::make_unique<Impl>()) {}

StreamMd5::~StreamMd5() { impl_->Stop(); }

void StreamMd5::Update(const void* data, std::size_t size) {
    Impl& m = *impl_;
    if (!m.buffering) {
        if (m.direct || m.hashedAtOnce + size <= kBlockBytes || !m.StartBuffering()) {
            m.hash.Update(data, size);
            m.hashedAtOnce += size;
            return;
        }
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        std::size_t& used = m.fill[m.current];
        const std::size_t n = std::min(size, kBlockBytes - used);
        std::memcpy(m.blocks[m.current].get() + used, bytes, n);
        used += n;
        bytes += n;
        size -= n;
        if (used == kBlockBytes && !m.HandOver()) {
            m.buffering = false;
            m.direct = true;
            m.hash.Update(bytes, size);
            return;
        }
    }
}

std::string StreamMd5::FinalHexLower() {
    Impl& m = *impl_;
    m.Stop();  // the helper has hashed every block handed over, in order
    if (m.buffering) {
        m.hash.Update(m.blocks[m.current].get(), m.fill[m.current]);
        m.fill[m.current] = 0;
    }
    return m.hash.FinalHexLower();
}

std::string Md5HexLower(std::string_view bytes) {
    Md5 md5;
    md5.Update(bytes.data(), bytes.size());
    return md5.FinalHexLower();
}

}  // namespace plat
