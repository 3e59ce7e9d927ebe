#include "document/byte_source.h"

#include <algorithm>
#include <cstring>

#include "platform/file_input.h"

namespace quarvel {

int MemorySource::readSome(char* buffer, int length) noexcept {
  const std::size_t count = std::min(rest_.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, rest_.data(), count);
  rest_.remove_prefix(count);
  return static_cast<int>(count);
}

ParseError MemorySource::why() const { return {}; }

FileSource::FileSource() = default;

FileSource::~FileSource() = default;

std::optional<ParseError> FileSource::openFile(const std::string& path) {
  // A file: URL may spell one as %00.
  if (path.find('\0') != std::string::npos) {
    return readError(kCannotReadLocation, "the path holds a NUL character");
  }
  file_ = std::make_unique<FileInput>();
  if (std::optional<std::string> reason = file_->openFile(path)) {
    file_.reset();
    return readError(kCannotReadLocation, *reason);
  }
  return std::nullopt;
}

std::optional<ParseError> FileSource::openStandardInput() {
  file_ = std::make_unique<FileInput>();
  if (std::optional<std::string> reason = file_->openStandardInput()) {
    file_.reset();
    return readError(kCannotReadLocation, *reason);
  }
  return std::nullopt;
}

int FileSource::readSome(char* buffer, int length) noexcept {
  if (file_ == nullptr) return -1;
  return file_->read(buffer, static_cast<std::size_t>(length));
}

ParseError FileSource::why() const {
  return readError(kCannotReadLocation,
                   file_ != nullptr ? file_->readFailure() : std::string("the file is not open"));
}

}  // namespace quarvel
