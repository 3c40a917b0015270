#pragma once
// Waiting on a condition with a deadline: tests never sleep to wait for something.
#include <chrono>
#include <functional>

namespace testsupport {

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace testsupport
