#pragma once
// Hands a reply's body from the thread that receives it to a thread that reads it as it
// arrives, so that a large reply (the listing of a whole account) is read without ever being
// held whole. At most about two stretches of `bound` bytes are held: the one being read and
// the one being filled; the receiver waits while the reader is that far behind.
//
// The reader side is a RapidJSON input stream (Peek, Take, Tell): after Close it reads the
// end ('\0') once the bytes given are used up.
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

class ReplyPipe {
public:
    using Ch = char;

    explicit ReplyPipe(std::size_t bound) : bound_(bound) {}
    ReplyPipe(const ReplyPipe&) = delete;
    ReplyPipe& operator=(const ReplyPipe&) = delete;

    // ---- the receiving thread ----
    // Adds bytes, waiting while the reader is behind; false (nothing added) once the reader
    // has stopped, so that the reply is not received further.
    bool Give(const char* data, std::size_t size);
    // No more bytes will come (the whole reply, or a failed one).
    void Close();
    // The reader stopped before the end was given: it needed no more.
    bool StoppedEarly() const;

    // ---- the reading thread ----
    char Peek() { return at_ < current_.size() || Fill() ? current_[at_] : '\0'; }
    char Take() { return at_ < current_.size() || Fill() ? current_[at_++] : '\0'; }
    std::size_t Tell() const { return read_ + at_; }
    // The reader wants no more bytes; a receiver waiting in Give returns false.
    void StopReading();

private:
    // Takes the next stretch; false at the end.
    bool Fill();

    const std::size_t bound_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string pending_;  // given, not yet taken by the reader
    bool closed_ = false;
    bool stopped_ = false;
    bool stoppedEarly_ = false;
    // The reader's own stretch (touched by the reading thread only).
    std::string current_;
    std::size_t at_ = 0;
    std::size_t read_ = 0;  // bytes of the stretches before the current one
};
