#pragma once
// One open local file, read and written through a sliding window. Objects are made and
// released only through CLocalFileSystem::CreateFileIO and ReleaseFileIO. An object holds
// at most one open file and is used by one thread at a time.
#include <cstdint>
#include <string>

class CLocalFileIO {
public:
    virtual ~CLocalFileIO() = default;
    // Mode 0 reads an existing file. Any other mode opens for writing (mode 1 reads and
    // writes); a missing file is first created with `size` bytes. A folder is never a file.
    virtual bool Open(const std::string& path, int mode, std::int64_t size) = 0;
    virtual bool Close() = 0;
    // Up to count bytes from the position on; 0 at or past the end.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
    // Writes at the position, extending the file past its end; the bytes written.
    virtual std::uint32_t Write(const void* buffer, std::uint32_t count) = 0;
    // origin 0 from the start, 1 from the position, 2 from the end (negative offset).
    virtual bool Seek(std::int64_t offset, int origin) = 0;
    virtual std::int64_t GetPosition() = 0;
    virtual std::int64_t GetLength() = 0;
    virtual bool SetLength(const std::int64_t* length) = 0;
    // The reason of the last failure; `text` is left unchanged when there is none to give.
    virtual void GetErrorText(std::string& text) = 0;
    // The size of the sliding window.
    virtual std::uint32_t GetGranularity() = 0;
};
