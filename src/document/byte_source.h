// Where the parser driver reads a document's bytes from: one interface, the
// chunks the parser asks for, and the sources of memory, files and standard
// input (http(s) in http_source.h). A source streams: nothing here holds a
// document whole.
#ifndef QUARVEL_DOCUMENT_BYTE_SOURCE_H_
#define QUARVEL_DOCUMENT_BYTE_SOURCE_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "document/parse_error.h"

namespace quarvel {

class FileInput;

// The bytes of one document, read from start to end.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Copies up to `length` next bytes into `buffer`, waiting for a server as
  // needed: the count, 0 at the end, -1 when reading failed. Once it has
  // failed, failure() says why. Never throws.
  int read(char* buffer, int length) noexcept {
    const int count = readSome(buffer, length > 0 ? length : 0);
    if (count < 0) failed_ = true;
    return count;
  }
  // Why the bytes stopped before their end, once read() has returned -1; no
  // value before that. The error has the short form of a location that
  // cannot be read (`line` 0; `url` left empty for the caller to fill).
  // Throws std::bad_alloc when memory runs out.
  std::optional<ParseError> failure() const {
    if (!failed_) return std::nullopt;
    return why();
  }

 protected:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // read() without its bookkeeping; `length` is never negative.
  virtual int readSome(char* buffer, int length) noexcept = 0;
  // failure() once a read has failed.
  virtual ParseError why() const = 0;

 private:
  bool failed_ = false;
};

// Bytes held by the caller, which must outlive the reading. Never fails.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : rest_(bytes) {}

 private:
  int readSome(char* buffer, int length) noexcept override;
  ParseError why() const override;

  std::string_view rest_;
};

// A file, or standard input, read as the parser goes. A failure is
// kCannotReadLocation with the system's reason.
class FileSource final : public ByteSource {
 public:
  FileSource();
  ~FileSource() override;

  // Open the file at `path` (UTF-8, any length; a NUL in it is refused) or
  // standard input. A failure leaves nothing open. Throw std::bad_alloc when
  // memory runs out.
  std::optional<ParseError> openFile(const std::string& path);
  std::optional<ParseError> openStandardInput();

 private:
  int readSome(char* buffer, int length) noexcept override;
  ParseError why() const override;

  std::unique_ptr<FileInput> file_;
};

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_BYTE_SOURCE_H_
