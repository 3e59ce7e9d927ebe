// Where the encoders' bytes go (text_output.h). A ByteSink buffers bytes and
// hands them on in blocks; the first failure to hand them on is remembered
// (sticky), and every later write is dropped, so the caller checks once, at
// the end.
#ifndef QUARVEL_PLATFORM_BYTE_SINK_H_
#define QUARVEL_PLATFORM_BYTE_SINK_H_

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

class ByteSink {
 public:
  ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;
  virtual ~ByteSink() = default;

  void put(uint8_t byte) {
    if (used_ == kBufferSize) drain();
    buffer_[used_++] = byte;
  }
  // The most that reserve() can give at once.
  static constexpr std::size_t kMaxReserve = 4096;
  // Room for `size` bytes (at most kMaxReserve) at the end of the buffer,
  // handing the buffered bytes on first when too little is left. The caller
  // writes up to `size` bytes there, then calls commit() with the number it
  // wrote, before any other call on this sink.
  uint8_t* reserve(std::size_t size) {
    assert(size <= kMaxReserve);
    if (kBufferSize - used_ < size) drain();
    return buffer_ + used_;
  }
  void commit(std::size_t size) {
    assert(size <= kBufferSize - used_);
    used_ += size;
  }
  // Hands every buffered byte on. Returns false once any write has failed.
  bool flush();
  bool failed() const { return error_ != 0; }
  // The errno value of the first failure, 0 while there was none.
  int error() const { return error_; }

 protected:
  // Writes all `size` bytes; returns 0 or an errno value.
  virtual int writeBytes(const uint8_t* data, std::size_t size) = 0;

 private:
  void drain();

  static constexpr std::size_t kBufferSize = 64 * 1024;
  uint8_t buffer_[kBufferSize];
  std::size_t used_ = 0;
  int error_ = 0;
};

// Writes to a file descriptor (standard output in the program).
class FileDescriptorSink final : public ByteSink {
 public:
  explicit FileDescriptorSink(int fd) : fd_(fd) {}

 protected:
  int writeBytes(const uint8_t* data, std::size_t size) override;

 private:
  int fd_;
};

// Collects bytes in memory. With a limit, writing past it fails like a full
// disk (ENOSPC), which lets tests and the fuzzer bound their output.
class MemorySink final : public ByteSink {
 public:
  explicit MemorySink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
  // Everything written so far (flushes first).
  const std::string& bytes();

 protected:
  int writeBytes(const uint8_t* data, std::size_t size) override;

 private:
  std::string bytes_;
  std::size_t limit_;
};

// The program's standard output. Lives for the whole process.
ByteSink& standardOutput();

}  // namespace quarvel

#endif  // QUARVEL_PLATFORM_BYTE_SINK_H_
