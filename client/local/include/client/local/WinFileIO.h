#pragma once
// CLocalFileIO over the platform's window-based file I/O, which it owns.
#include <memory>

#include "client/core/LocalFileIO.h"
#include "platform/mmfio.h"

class CWinFileIO : public CLocalFileIO {
public:
    CWinFileIO();
    ~CWinFileIO() override;

    bool Open(const std::string& path, int mode, std::int64_t size) override;
    bool Close() override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::uint32_t Write(const void* buffer, std::uint32_t count) override;
    bool Seek(std::int64_t offset, int origin) override;
    std::int64_t GetPosition() override;
    std::int64_t GetLength() override;
    bool SetLength(const std::int64_t* length) override;
    void GetErrorText(std::string& text) override;
    std::uint32_t GetGranularity() override;

private:
    std::unique_ptr<CWinMMFIO> file_;
};
