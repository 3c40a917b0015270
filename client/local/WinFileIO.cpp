#include "client/local/WinFileIO.h"

#include <new>

#include "client/local/WinFileSystem.h"
#include "platform/fileops.h"
#include "platform/text.h"

CWinFileIO::CWinFileIO() : file_(new (std::nothrow) CWinMMFIO(CWinMMFIO::Flavour::Client)) {}

CWinFileIO::~CWinFileIO() = default;

bool CWinFileIO::Open(const std::string& path, int mode, std::int64_t size) {
    std::string native;
    std::u16string wide;
    if (!file_ || !WinFileSystem::ToNativePath(path, native) || !plat::Utf8ToUtf16(native, wide)) return false;
    if (file_->isOpen != 0) {
        file_->lastError = u"Close previous file before opening another.";
        return false;
    }
    const plat::fs::Kind kind = plat::fs::GetKind(native);
    const bool exists = kind != plat::fs::Kind::Missing && kind != plat::fs::Kind::Directory;
    if (exists) {
        LocalFileItem item;
        if (!WinFileSystem::GetFileInfo(native, item)) return false;
    }
    if (mode == 0) {
        if (!exists) return false;
        return file_->Open(wide, 0);
    }
    if (!exists && WinFileSystem::CreateFileWithSize(native, size) == 0) return false;
    return file_->Open(wide, mode);
}

bool CWinFileIO::Close() {
    if (!file_) return false;
    file_->Close();
    file_->isOpen = 0;
    return true;
}

std::uint32_t CWinFileIO::Read(void* buffer, std::uint32_t count) { return file_ ? file_->Read(buffer, count) : 0; }

std::uint32_t CWinFileIO::Write(const void* buffer, std::uint32_t count) {
    return file_ ? file_->Write(buffer, count) : 0;
}

bool CWinFileIO::Seek(std::int64_t offset, int origin) { return file_ && file_->Seek(offset, origin); }

std::int64_t CWinFileIO::GetPosition() { return file_ ? static_cast<std::int64_t>(file_->position) : 0; }

std::int64_t CWinFileIO::GetLength() { return file_ ? static_cast<std::int64_t>(file_->GetLength()) : 0; }

bool CWinFileIO::SetLength(const std::int64_t* length) {
    if (!file_ || length == nullptr || *length < 0) return false;
    return file_->SetLength(static_cast<std::uint64_t>(*length));
}

void CWinFileIO::GetErrorText(std::string& text) {
    if (!file_) return;
    std::string utf8;
    if (plat::Utf16ToUtf8(file_->lastError, utf8)) text = utf8;
}

std::uint32_t CWinFileIO::GetGranularity() { return file_ ? file_->windowSize : 0; }
