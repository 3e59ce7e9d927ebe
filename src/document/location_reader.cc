#include "document/location_reader.h"

#include <curl/curl.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/file_input.h"

namespace quarvel {
namespace {

constexpr long kMaxRedirects = 10;

// ---------------------------------------------------------------------------
// Opening a location for the parser to read from.

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// A location is a URL when it starts with "scheme://" or with "file:";
// everything else is a file path.
bool hasUrlScheme(std::string_view location) {
  if (startsWithIgnoringCase(location, "file:")) return true;
  auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto isSchemeChar = [&](char c) {
    return isLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
  };
  if (location.empty() || !isLetter(location[0])) return false;
  size_t i = 1;
  while (i < location.size() && isSchemeChar(location[i])) ++i;
  return location.substr(i, 3) == "://";
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A '%' that is not followed by two hex digits stands for itself.
std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
        hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// "file:///p", "file://localhost/p", "file:/p" and "file:p" name the path p
// (percent-decoded); a query or fragment is not part of the path.
std::optional<ReadFailure> filePathOfUrl(std::string_view url, std::string& path) {
  std::string_view rest = url.substr(std::strlen("file:"));
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !(host.size() == 9 && startsWithIgnoringCase(host, "localhost"))) {
      return ReadFailure{kUnsupportedLocation, "file URL names another host: " + std::string(host)};
    }
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  path = percentDecode(rest);
  return std::nullopt;
}

void initialiseCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Body bytes held between libcurl and the parser. When this much waits
// unread, the transfer is paused until the parser has taken it all.
constexpr size_t kBodyBufferBytes = 256 * 1024;

// Longest wait in one poll; libcurl's own timeouts end it sooner.
constexpr int kPollMs = 1000;

bool equalsIgnoringCase(std::string_view text, std::string_view lowercase) {
  return text.size() == lowercase.size() && startsWithIgnoringCase(text, lowercase);
}

std::string_view trimmed(std::string_view text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

// One http(s) transfer, driven through libcurl's multi interface by the
// parser's reads: libcurl fills a small buffer and is paused while it is
// full, so the body streams into the parser and is never held whole. Its
// callbacks run inside libcurl's C frames: they never throw and only note
// why they stopped; the message is made afterwards.
class HttpTransfer {
 public:
  HttpTransfer() = default;
  ~HttpTransfer() {
    if (multi_ != nullptr && easy_ != nullptr) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
  }
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  // Starts the transfer and drives it until the final response's status is
  // known and its first body bytes have arrived, or it has ended. A failed
  // transfer and a status other than 2xx fail here, before any parsing.
  std::optional<ReadFailure> start(const std::string& url, const LoadSettings& settings) {
    initialiseCurl();
    maxBodyBytes_ = settings.maxHttpBodyBytes;
    maxHeaderBytes_ = settings.maxHttpHeaderBytes;
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (easy_ == nullptr || multi_ == nullptr) {
      return ReadFailure{kCannotFetchLocation, "cannot start a transfer"};
    }
    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, settings.connectTimeoutMs);
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, settings.totalTimeoutMs);
    // An announced length over the cap fails before the body is read.
    curl_easy_setopt(easy_, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(std::min<uint64_t>(maxBodyBytes_, INT64_MAX)));
    // Bytes reach the parser as the server encoded them: no Accept-Encoding
    // is sent and a Content-Encoding is never undone (the parser then
    // refuses what is not XML).
    curl_easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, "quarvel");
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, message_);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
      return ReadFailure{kCannotFetchLocation, "cannot start a transfer"};
    }
    fill();
    if (std::optional<ReadFailure> failure = this->failure()) return failure;
    // Reached when the transfer ended without a body.
    if (!hasSuccessStatus()) return statusFailure();
    return std::nullopt;
  }

  // Copies up to `length` body bytes into `buffer`, waiting for the server
  // as needed. 0 at the end of the body, -1 when the transfer failed
  // (failure() says why). Never allocates.
  int read(char* buffer, size_t length) {
    fill();
    const size_t count = std::min({unread(), length, static_cast<size_t>(INT_MAX)});
    if (count == 0) return failed() ? -1 : 0;
    std::memcpy(buffer, buffer_.data() + taken_, count);
    taken_ += count;
    return static_cast<int>(count);
  }

  std::optional<ReadFailure> failure() const {
    // libcurl's own stop for an announced length over the cap reads as ours.
    const Stop stop = ended_ && result_ == CURLE_FILESIZE_EXCEEDED ? Stop::kBodyCap : stop_;
    switch (stop) {
      case Stop::kNone:
        break;
      case Stop::kHeaderCap:
        return ReadFailure{kCannotFetchLocation, "the server sent more than " +
                                                     std::to_string(maxHeaderBytes_) +
                                                     " bytes of header and trailer lines"};
      case Stop::kTransferEncoding:
        return ReadFailure{kCannotFetchLocation,
                           "unsupported transfer encoding: " + std::string(encoding_)};
      case Stop::kBodyCap:
        return ReadFailure{kCannotFetchLocation, "the document is larger than " +
                                                     std::to_string(maxBodyBytes_) + " bytes"};
      case Stop::kStatus:
        return statusFailure();
      case Stop::kNoMemory:
        return ReadFailure{kCannotFetchLocation, "out of memory"};
      case Stop::kMulti:
        return ReadFailure{kCannotFetchLocation, "the transfer cannot go on"};
    }
    // libcurl holds one header line in a buffer of CURL_MAX_HTTP_HEADER
    // bytes and ends the transfer with CURLE_OUT_OF_MEMORY ("Out of
    // memory") when a line outgrows it; onHeader never sees that line. Before
    // the body, nothing else of libcurl's fails that way but for want of a
    // few bytes.
    if (ended_ && result_ == CURLE_OUT_OF_MEMORY && !statusChecked_) {
      return ReadFailure{kCannotFetchLocation, "the server sent a header line longer than " +
                                                   std::to_string(CURL_MAX_HTTP_HEADER) + " bytes"};
    }
    if (ended_ && result_ != CURLE_OK) {
      return ReadFailure{kCannotFetchLocation,
                         message_[0] != '\0' ? message_ : curl_easy_strerror(result_)};
    }
    return std::nullopt;
  }

 private:
  // Why a callback ended the transfer.
  enum class Stop { kNone, kHeaderCap, kTransferEncoding, kBodyCap, kStatus, kNoMemory, kMulti };

  size_t unread() const { return buffer_.size() - taken_; }
  bool failed() const { return stop_ != Stop::kNone || (ended_ && result_ != CURLE_OK); }

  long status() const {
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return status;
  }
  // Only a 2xx response carries the document; an error page or a redirect
  // that was not followed does not.
  bool hasSuccessStatus() const { return status() >= 200 && status() <= 299; }
  ReadFailure statusFailure() const {
    return ReadFailure{kCannotFetchLocation, "HTTP status " + std::to_string(status())};
  }

  // Drives the transfer until body bytes wait unread or it has ended.
  void fill() {
    while (unread() == 0 && !ended_) {
      buffer_.clear();
      taken_ = 0;
      if (paused_) {
        paused_ = false;
        // May hand over the bytes held back at once.
        curl_easy_pause(easy_, CURLPAUSE_CONT);
      }
      int running = 0;
      if (curl_multi_perform(multi_, &running) != CURLM_OK) {
        stop_ = Stop::kMulti;
        ended_ = true;
        break;
      }
      int left = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE) {
          ended_ = true;
          result_ = message->data.result;
        }
      }
      if (unread() > 0 || ended_) break;
      if (curl_multi_poll(multi_, nullptr, 0, kPollMs, nullptr) != CURLM_OK) {
        stop_ = Stop::kMulti;
        ended_ = true;
      }
    }
  }

  // Every header and trailer line of every response passes here, so one
  // count caps them all. A Transfer-Encoding that libcurl would undo beyond
  // chunking stops the transfer before its body.
  static size_t onHeader(char* data, size_t size, size_t count, void* context) noexcept {
    auto* self = static_cast<HttpTransfer*>(context);
    const size_t length = size * count;
    self->headerBytes_ += length;
    if (self->headerBytes_ > self->maxHeaderBytes_) {
      self->stop_ = Stop::kHeaderCap;
      return 0;  // makes libcurl abort the transfer
    }
    const std::string_view line(data, length);
    constexpr std::string_view kName = "transfer-encoding:";
    if (!startsWithIgnoringCase(line, kName)) return length;
    std::string_view codings = line.substr(kName.size());
    while (!codings.empty()) {
      const size_t comma = codings.find(',');
      const std::string_view coding = trimmed(codings.substr(0, comma));
      codings = comma == std::string_view::npos ? std::string_view() : codings.substr(comma + 1);
      if (coding.empty() || equalsIgnoringCase(coding, "chunked") ||
          equalsIgnoringCase(coding, "identity")) {
        continue;
      }
      const size_t shown = std::min(coding.size(), sizeof self->encoding_ - 1);
      std::memcpy(self->encoding_, coding.data(), shown);
      self->encoding_[shown] = '\0';
      self->stop_ = Stop::kTransferEncoding;
      return 0;
    }
    return length;
  }

  static size_t onBody(char* data, size_t size, size_t count, void* context) noexcept {
    auto* self = static_cast<HttpTransfer*>(context);
    const size_t length = size * count;
    if (!self->statusChecked_) {
      self->statusChecked_ = true;
      if (!self->hasSuccessStatus()) {
        self->stop_ = Stop::kStatus;
        return 0;
      }
    }
    if (self->unread() != 0 && self->unread() + length > kBodyBufferBytes) {
      self->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;  // the same bytes come again after resuming
    }
    if (length > self->maxBodyBytes_ - self->bodyBytes_) {
      self->stop_ = Stop::kBodyCap;
      return 0;
    }
    // libcurl runs only from fill(), once the parser has taken every byte
    // and the buffer was emptied; from there it grows to kBodyBufferBytes
    // at most, or to one piece when that piece alone is larger.
    assert(self->taken_ == 0 &&
           (self->buffer_.empty() || self->buffer_.size() + length <= kBodyBufferBytes));
    try {
      self->buffer_.append(data, length);
    } catch (const std::bad_alloc&) {
      self->stop_ = Stop::kNoMemory;
      return 0;
    }
    self->bodyBytes_ += length;
    return length;
  }

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  char message_[CURL_ERROR_SIZE] = {};
  uint64_t maxBodyBytes_ = 0;
  uint64_t maxHeaderBytes_ = 0;
  uint64_t bodyBytes_ = 0;
  uint64_t headerBytes_ = 0;
  // Body bytes from libcurl; those before taken_ went to the parser.
  std::string buffer_;
  size_t taken_ = 0;
  bool paused_ = false;
  bool statusChecked_ = false;
  bool ended_ = false;
  CURLcode result_ = CURLE_OK;
  Stop stop_ = Stop::kNone;
  char encoding_[64] = {};
};

// Where the parser reads a location from: a file or standard input, or an
// http(s) transfer.
struct Source {
  std::unique_ptr<FileInput> file;
  std::unique_ptr<HttpTransfer> http;
};

// Opens the file at `path`, or standard input when there is none.
std::optional<ReadFailure> openFileSource(const std::string* path, Source& source) {
  // A file: URL may spell one as %00.
  if (path != nullptr && path->find('\0') != std::string::npos) {
    return ReadFailure{kCannotReadLocation, "the path holds a NUL character"};
  }
  source.file = std::make_unique<FileInput>();
  std::optional<std::string> reason =
      path == nullptr ? source.file->openStandardInput() : source.file->openFile(*path);
  if (!reason) return std::nullopt;
  return ReadFailure{kCannotReadLocation, std::move(*reason)};
}

// Opens `location` for the parser to read from as it goes. Exactly "-" is
// standard input; "./-" and "-x" are file paths.
std::optional<ReadFailure> openLocation(std::string_view location, const LoadSettings& settings,
                                        Source& source) {
  if (location.find('\0') != std::string_view::npos) {
    return ReadFailure{kCannotReadLocation, "the location holds a NUL character"};
  }
  if (location == "-") return openFileSource(nullptr, source);
  if (!hasUrlScheme(location)) {
    const std::string path(location);
    return openFileSource(&path, source);
  }
  if (startsWithIgnoringCase(location, "file:")) {
    std::string path;
    if (auto failure = filePathOfUrl(location, path)) return failure;
    return openFileSource(&path, source);
  }
  if (startsWithIgnoringCase(location, "http://") || startsWithIgnoringCase(location, "https://")) {
    source.http = std::make_unique<HttpTransfer>();
    return source.http->start(std::string(location), settings);
  }
  return ReadFailure{kUnsupportedLocation, "unsupported URL scheme: " +
                                               std::string(location.substr(0, location.find(':')))};
}

// Hands the parser the document's bytes in the chunks it asks for, from
// memory, straight from an open file or from an http(s) transfer, so the
// document is never held whole. Called from the parser driver, it never
// throws; a read error is kept for failure().
struct DocumentReader {
  std::string_view rest;
  FileInput* file = nullptr;
  HttpTransfer* http = nullptr;
  bool fileFailed = false;
  bool httpFailed = false;

  static int read(void* context, char* buffer, int length) {
    auto* reader = static_cast<DocumentReader*>(context);
    const size_t wanted = static_cast<size_t>(std::max(length, 0));
    if (reader->http != nullptr) {
      const int count = reader->http->read(buffer, wanted);
      reader->httpFailed = count < 0;
      return count;
    }
    if (reader->file != nullptr) {
      const int count = reader->file->read(buffer, wanted);
      reader->fileFailed = count < 0;
      return count;
    }
    const size_t count = std::min(reader->rest.size(), wanted);
    std::memcpy(buffer, reader->rest.data(), count);
    reader->rest.remove_prefix(count);
    return static_cast<int>(count);
  }

  // Why the bytes stopped before their end, if they did: the short message
  // form applies, as when the location cannot be opened.
  std::optional<ReadFailure> failure() const {
    if (httpFailed) return http->failure();
    if (fileFailed) return ReadFailure{kCannotReadLocation, file->readFailure()};
    return std::nullopt;
  }
};

}  // namespace

struct LocationReader::State {
  Source source;
  DocumentReader reader;
};

LocationReader::LocationReader() = default;
LocationReader::~LocationReader() = default;

std::optional<ReadFailure> LocationReader::open(std::string_view location,
                                                const LoadSettings& settings) {
  state_ = std::make_unique<State>();
  if (std::optional<ReadFailure> failure = openLocation(location, settings, state_->source)) {
    state_.reset();
    return failure;
  }
  state_->reader.file = state_->source.file.get();
  state_->reader.http = state_->source.http.get();
  return std::nullopt;
}

void LocationReader::openMemory(std::string_view bytes) {
  state_ = std::make_unique<State>();
  state_->reader.rest = bytes;
}

int LocationReader::read(char* buffer, int length) {
  if (state_ == nullptr) return -1;
  return DocumentReader::read(&state_->reader, buffer, length);
}

std::optional<ReadFailure> LocationReader::failure() const {
  if (state_ == nullptr) return std::nullopt;
  return state_->reader.failure();
}

}  // namespace quarvel
