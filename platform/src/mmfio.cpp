#include "platform/mmfio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/longpath.h"
#include "platform/text.h"

namespace {

constexpr char16_t kErrAlreadyOpen[] = u"Close previous file before opening another.";
constexpr char16_t kErrOpen[] = u"Error encountered during file open.";
constexpr char16_t kErrZeroByte[] = u"Cannot open zero byte file.";
constexpr char16_t kErrMapView[] = u"Failed to map view of file.";
constexpr char16_t kErrFilePointer[] = u"The file pointer cannot be set to specified location.";
constexpr char16_t kErrEndOfFile[] = u"Failed to set end of file.";
constexpr char16_t kErrOutside[] = u"Seek request lies outside file boundary.";
constexpr char16_t kErrNegative[] = u"Offset must be negative while seeking from file end.";

constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

}  // namespace

CWinMMFIO::CWinMMFIO(Flavour flavour) : flavour_(flavour) {
    windowSize = flavour == Flavour::Sync ? 2 * kGranularity : kGranularity;
    growStep = windowSize;
    viewSize = windowSize;
}

CWinMMFIO::~CWinMMFIO() { Close(); }

bool CWinMMFIO::ViewHolds(std::uint64_t offset) const {
    return viewBase != nullptr && offset >= viewOffset && offset - viewOffset < viewSize;
}

void CWinMMFIO::DropView() {
    viewBase = nullptr;
    viewSize = 0;
}

bool CWinMMFIO::Open(const std::u16string& path, int mode) {
    if (isOpen != 0) {
        lastError = kErrAlreadyOpen;
        return false;
    }
    isOpen = 1;
    std::u16string normalised;
    std::string native;
    if (!NormalizeLongPath(path, normalised) || !plat::Utf16ToUtf8(normalised, native)) {
        lastError = kErrOpen;
        return false;
    }
    // Only the client writes; a read-mode open never creates the file. O_NONBLOCK keeps
    // a FIFO from blocking the open; anything but a regular file is refused below.
    writable_ = flavour_ == Flavour::Client && mode == 1;
    const int flags = (writable_ ? O_RDWR | O_CREAT : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(native.c_str(), flags, 0644);
    struct stat st;
    if (fd < 0) {
        lastError = kErrOpen;
        return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        lastError = kErrOpen;
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize == 0 && flavour_ == Flavour::Sync) {
        ::close(fd);
        lastError = kErrZeroByte;
        return false;
    }
    fd_ = fd;
    // A file opened for reading never grows through this object: a buffer the size of the
    // file is enough when that is less than a window (small files are the common case of
    // a digest pass, and a whole window per file costs more than reading it).
    window_.assign(writable_ ? windowSize : static_cast<std::size_t>(std::min<std::uint64_t>(windowSize, fileSize)), 0);
    dataEnd_ = fileSize;
    position = 0;
    viewOffset = 0;
    grown = 0;
    dirty_ = false;
    DropView();
    if (fileSize > 0 && !LoadWindow(0)) {
        ::close(fd_);
        fd_ = -1;
        window_.clear();
        return false;
    }
    return true;
}

bool CWinMMFIO::LoadWindow(std::uint64_t target) {
    DropView();
    viewOffset = target / windowSize * windowSize;
    if (viewOffset >= fileSize) return true;  // nothing of the file lies there
    const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(windowSize, fileSize - viewOffset));
    std::uint32_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(fd_, window_.data() + got, want - got, static_cast<off_t>(viewOffset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            lastError = kErrMapView;
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::uint32_t>(n);
    }
    if (got < want) {
        if (writable_) {
            // Bytes beyond a shorter file read as zeros, as in a grown file.
            std::memset(window_.data() + got, 0, want - got);
            got = want;
        } else {
            // Another program cut the file short: what is left of it is all there is.
            fileSize = viewOffset + got;
        }
    }
    viewSize = got;
    viewBase = got > 0 ? window_.data() : nullptr;
    return true;
}

bool CWinMMFIO::FlushWindow() {
    if (!dirty_) return true;
    std::uint32_t done = dirtyBegin_;
    while (done < dirtyEnd_) {
        const ssize_t n = ::pwrite(fd_, window_.data() + done, dirtyEnd_ - done, static_cast<off_t>(viewOffset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            dirtyBegin_ = done;
            return false;
        }
        done += static_cast<std::uint32_t>(n);
    }
    dirty_ = false;
    return true;
}

bool CWinMMFIO::Resize(std::uint64_t length) {
    if (fd_ < 0) {
        lastError = kErrEndOfFile;
        return false;
    }
    if (length > kMaxOffset) {
        lastError = kErrFilePointer;
        return false;
    }
    if (!FlushWindow() || ::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
        lastError = kErrEndOfFile;
        return false;
    }
    fileSize = length;
    if (position > length) position = length;
    if (dataEnd_ > length) dataEnd_ = length;
    DropView();
    if (fileSize == 0) return true;
    return LoadWindow(std::min(position, fileSize - 1));
}

bool CWinMMFIO::CutBack() {
    if (grown == 0) return true;
    grown = 0;
    return Resize(dataEnd_);
}

bool CWinMMFIO::Close() {
    if (fd_ < 0) return true;
    bool ok = CutBack();
    ok = FlushWindow() && ok;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    dirty_ = false;
    DropView();
    window_.clear();
    window_.shrink_to_fit();
    return ok;
}

std::uint64_t CWinMMFIO::GetLength() {
    CutBack();
    return fileSize;
}

bool CWinMMFIO::NextView() {
    std::uint64_t next = viewOffset + windowSize;
    if (next >= fileSize) next = 0;
    const bool ok = Seek(static_cast<std::int64_t>(next), 0);
    // Even when the window cannot be loaded a streaming loop must see the wrap.
    if (!ok && next == 0) position = 0;
    return ok;
}

bool CWinMMFIO::Seek(std::int64_t offset, int origin) {
    CutBack();
    if (origin == 2 && offset >= 0) {
        lastError = kErrNegative;
        return false;
    }
    std::int64_t base = 0;
    if (origin == 1) base = static_cast<std::int64_t>(position);
    else if (origin == 2) base = static_cast<std::int64_t>(fileSize);
    else if (origin != 0) {
        lastError = kErrOutside;
        return false;
    }
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0 ||
        static_cast<std::uint64_t>(target) >= fileSize) {
        lastError = kErrOutside;
        return false;
    }
    const auto where = static_cast<std::uint64_t>(target);
    if (!ViewHolds(where)) {
        if (!FlushWindow()) {
            lastError = kErrMapView;
            return false;
        }
        if (!LoadWindow(where)) return false;
        if (!ViewHolds(where)) {
            lastError = kErrOutside;  // the file was cut short meanwhile
            return false;
        }
    }
    position = where;
    return true;
}

bool CWinMMFIO::SetLength(std::uint64_t length) {
    CutBack();
    if (!Resize(length)) return false;
    dataEnd_ = length;
    return true;
}

std::uint32_t CWinMMFIO::Read(void* buffer, std::uint32_t count) {
    CutBack();
    if (fd_ < 0 || count == 0 || position >= fileSize) return 0;
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, fileSize - position));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        if (!ViewHolds(position)) {
            if (!FlushWindow() || !LoadWindow(position) || !ViewHolds(position)) break;
        }
        const auto offset = static_cast<std::uint32_t>(position - viewOffset);
        const std::uint32_t n = std::min(count - done, viewSize - offset);
        std::memcpy(out + done, viewBase + offset, n);
        done += n;
        position += n;
    }
    return done;
}

std::uint32_t CWinMMFIO::Write(const void* buffer, std::uint32_t count) {
    if (fd_ < 0 || !writable_ || count == 0) return 0;
    if (position + count >= fileSize) {
        if (Resize(position + count + growStep)) {
            grown = 1;
        } else if (position >= fileSize) {
            return 0;
        } else {
            count = static_cast<std::uint32_t>(fileSize - position);  // what still fits
        }
    }
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        if (!ViewHolds(position)) {
            if (!FlushWindow()) {
                lastError = kErrMapView;
                break;
            }
            if (!LoadWindow(position) || !ViewHolds(position)) break;
        }
        const auto offset = static_cast<std::uint32_t>(position - viewOffset);
        const std::uint32_t n = std::min(count - done, viewSize - offset);
        std::memcpy(window_.data() + offset, in + done, n);
        if (!dirty_) {
            dirtyBegin_ = offset;
            dirtyEnd_ = offset + n;
            dirty_ = true;
        } else {
            dirtyBegin_ = std::min(dirtyBegin_, offset);
            dirtyEnd_ = std::max(dirtyEnd_, offset + n);
        }
        done += n;
        position += n;
        dataEnd_ = std::max(dataEnd_, position);
    }
    return done;
}
