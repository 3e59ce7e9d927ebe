#include "platform/byte_sink.h"

#include <unistd.h>

#include <cerrno>

#include "base/utf16.h"

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

int Utf8Sink::writeBytes(const uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (pendingByte_ < 0) {
      pendingByte_ = data[i];
      continue;
    }
    putUnitAsUtf8(static_cast<char16_t>(pendingByte_ | (data[i] << 8)));
    pendingByte_ = -1;
  }
  return target_.flush() ? 0 : target_.error();
}

void Utf8Sink::putUnitAsUtf8(char16_t unit) {
  // iconv takes only a leading FEFF for the byte-order mark; a later one is
  // a character (ZERO WIDTH NO-BREAK SPACE) and stays.
  const bool first = !started_;
  started_ = true;
  if (first && unit == 0xFEFF) return;
  const bool isHigh = isHighSurrogate(unit);
  const bool isLow = isLowSurrogate(unit);
  if (highSurrogate_ != 0) {
    const char16_t high = highSurrogate_;
    highSurrogate_ = 0;
    if (isLow) {
      putCodePoint(0x10000 + ((char32_t{high} - 0xD800) << 10) + (unit - 0xDC00));
      return;
    }
    putCodePoint(0xFFFD);
  }
  if (isHigh) {
    highSurrogate_ = unit;
  } else if (isLow) {
    putCodePoint(0xFFFD);
  } else if (unit != u'\r') {
    putCodePoint(unit);
  }
}

void Utf8Sink::putCodePoint(char32_t cp) {
  uint8_t bytes[4];
  const int length = encodeUtf8(cp, bytes);
  for (int k = 0; k < length; ++k) target_.put(bytes[k]);
}

ByteSink& standardOutput() {
  static FileDescriptorSink sink(STDOUT_FILENO);
  return sink;
}

}  // namespace quarvel
