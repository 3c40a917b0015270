#include "platform/handles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plat {

bool IsDescriptorOpen(int fd) { return fd >= 0 && ::fcntl(fd, F_GETFD) != -1; }

bool CloseDescriptor(int fd) { return fd >= 0 && ::close(fd) == 0; }

std::string ErrorDescription(int code) {
    const char* text = ::strerrordesc_np(code);
    return text == nullptr ? std::string() : std::string(text);
}

int LastErrorCode() { return errno; }

}  // namespace plat
