#pragma once
// Window-based file I/O with the contract of a sliding file-mapping view, built on
// pread/pwrite into a window buffer (so a file truncated by another program gives a
// short read, never a fault). Callers consume `viewBase`/`viewSize` directly.
//
// Flavour Sync: window 2 x 65536, read only, an empty file fails to open.
// Flavour Client: window 65536, read or read-write, an empty file opens without a view.
#include <cstdint>
#include <string>
#include <vector>

class CWinMMFIO {
public:
    enum class Flavour { Sync, Client };
    static constexpr std::uint32_t kGranularity = 65536;

    explicit CWinMMFIO(Flavour flavour = Flavour::Sync);
    virtual ~CWinMMFIO();
    CWinMMFIO(const CWinMMFIO&) = delete;
    CWinMMFIO& operator=(const CWinMMFIO&) = delete;

    // mode 1: read and write (Client only), otherwise read. OPEN_ALWAYS semantics in
    // write mode; a read-mode open never creates a file.
    bool Open(const std::u16string& path, int mode);
    bool Close();
    std::uint64_t GetLength();
    bool NextView();
    // origin 0 start, 1 current, 2 end (offset must then be negative).
    bool Seek(std::int64_t offset, int origin);
    bool SetLength(std::uint64_t length);
    std::uint32_t Read(void* buffer, std::uint32_t count);
    // Returns the bytes really written.
    std::uint32_t Write(const void* buffer, std::uint32_t count);

    // State the callers read.
    std::uint32_t isOpen = 0;
    const std::uint8_t* viewBase = nullptr;
    std::uint32_t viewSize = 0;
    std::uint64_t fileSize = 0;
    std::uint64_t viewOffset = 0;
    std::uint64_t position = 0;
    std::uint32_t windowSize = 0;
    std::uint32_t growStep = 0;
    std::uint32_t grown = 0;
    std::u16string lastError;

private:
    bool LoadWindow(std::uint64_t target);
    bool FlushWindow();
    bool CutBack();
    bool Resize(std::uint64_t length);
    bool ViewHolds(std::uint64_t offset) const;
    void DropView();

    Flavour flavour_;
    int fd_ = -1;
    bool writable_ = false;
    bool dirty_ = false;
    std::vector<std::uint8_t> window_;
    // Dirty bytes of the window, as offsets into it.
    std::uint32_t dirtyBegin_ = 0;
    std::uint32_t dirtyEnd_ = 0;
    // End of the real data: what a cut-back after growing keeps.
    std::uint64_t dataEnd_ = 0;
};
