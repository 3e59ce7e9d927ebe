#include "platform/byte_sink.h"

#include <unistd.h>

#include <cerrno>

namespace quarvel {

void ByteSink::drain() {
  if (error_ == 0 && used_ > 0) error_ = writeBytes(buffer_, used_);
  used_ = 0;
}

bool ByteSink::flush() {
  drain();
  return error_ == 0;
}

int FileDescriptorSink::writeBytes(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd_, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

const std::string& MemorySink::bytes() {
  flush();
  return bytes_;
}

int MemorySink::writeBytes(const uint8_t* data, std::size_t size) {
  if (size > limit_ - bytes_.size()) {
    bytes_.append(reinterpret_cast<const char*>(data), limit_ - bytes_.size());
    return ENOSPC;
  }
  bytes_.append(reinterpret_cast<const char*>(data), size);
  return 0;
}

ByteSink& standardOutput() {
  static FileDescriptorSink sink(STDOUT_FILENO);
  return sink;
}

}  // namespace quarvel
