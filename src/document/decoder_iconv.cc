// Linux: glibc's iconv decodes every encoding it knows, the Japanese ones
// under the names of Windows' tables (see japanese_encodings.h).
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "document/input_encoding.h"
#include "document/japanese_encodings.h"

namespace quarvel {
namespace {

// The UTF-8 that one call of iconv may write; the output grows by this much
// at a time.
constexpr std::size_t kBlockBytes = 16 * 1024;

// Longer than any name glibc knows.
constexpr std::size_t kMaxNameBytes = 64;

const iconv_t kNotOpen = reinterpret_cast<iconv_t>(-1);

// Whether glibc would take `name` as it is given. It drops characters other
// than letters, digits and "_-.,:/" from a name, reads what follows a "/"
// as options (//TRANSLIT, //IGNORE) and takes the empty name for the
// locale's encoding.
bool isPlainName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameBytes &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.' || c == ':';
         });
}

class IconvDecoder final : public Decoder {
 public:
  explicit IconvDecoder(const char* encoding)
      : converter_(iconv_open("UTF-8", encoding)), openError_(isOpen() ? 0 : errno) {}
  ~IconvDecoder() override {
    if (converter_ != kNotOpen) iconv_close(converter_);
  }
  IconvDecoder(const IconvDecoder&) = delete;
  IconvDecoder& operator=(const IconvDecoder&) = delete;

  bool isOpen() const { return converter_ != kNotOpen; }
  // Why iconv_open failed (errno), or 0.
  int openError() const { return openError_; }

  Result decode(std::string_view in, bool final, std::string& out) override {
    // iconv never writes through its input pointer, whatever its type says.
    char* next = const_cast<char*>(in.data());
    std::size_t left = in.size();
    const int error = convert(&next, &left, out);
    const Result result{in.size() - left, error == EILSEQ || (error == EINVAL && final)};
    // A converter may hold back a character to see whether the next one
    // combines with it; at the end of the document it gives it out.
    if (final && error == 0) convert(nullptr, nullptr, out);
    return result;
  }

 private:
  // Converts until the input ends or stops it, growing `out` a block at a
  // time; with no input, resets the converter. The errno of the stop, or 0.
  int convert(char** next, std::size_t* left, std::string& out) {
    for (;;) {
      const std::size_t start = out.size();
      out.resize(start + kBlockBytes);
      char* written = out.data() + start;
      std::size_t room = kBlockBytes;
      const std::size_t status = iconv(converter_, next, left, &written, &room);
      const int error = status == static_cast<std::size_t>(-1) ? errno : 0;
      out.resize(start + kBlockBytes - room);
      if (error != E2BIG) return error;
    }
  }

  iconv_t converter_;
  int openError_;
};

}  // namespace

std::unique_ptr<Decoder> openDecoder(std::string_view name) {
  if (!isPlainName(name)) return nullptr;
  std::string encoding(name);
  if (const auto japanese = findJapaneseEncoding(name)) {
    encoding = *japanese == JapaneseEncoding::kCodePage932 ? "CP932" : "EUC-JP-MS";
  }
  auto decoder = std::make_unique<IconvDecoder>(encoding.c_str());
  if (!decoder->isOpen()) {
    if (decoder->openError() == ENOMEM) throw std::bad_alloc();
    return nullptr;
  }
  return decoder;
}

}  // namespace quarvel
