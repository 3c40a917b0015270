#pragma once
// Descriptors (what stands in for handles) and the system's error codes and texts.
#include <string>

namespace plat {

// True when `fd` is an open descriptor of this process.
bool IsDescriptorOpen(int fd);
// Closes `fd`; true on success (false for a negative or closed descriptor).
bool CloseDescriptor(int fd);

// The system's description of an errno value; empty when it has none.
std::string ErrorDescription(int code);
// The calling thread's errno.
int LastErrorCode();

}  // namespace plat
