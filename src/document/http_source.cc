#include "document/http_source.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>
#include <new>

#include "base/ascii.h"
#include "document/curl_library.h"
#include "document/location.h"

namespace quarvel {
namespace {

constexpr long kMaxRedirects = 10;

// Body bytes held between libcurl and the parser. When this much waits
// unread, the transfer is paused until the parser has taken it all.
constexpr size_t kBodyBufferBytes = 256 * 1024;

// Longest wait in one poll; libcurl's own timeouts end it sooner.
constexpr int kPollMs = 1000;

std::string_view trimmed(std::string_view text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

}  // namespace

// One http(s) transfer, driven through libcurl's multi interface by the
// parser's reads: libcurl fills a small buffer and is paused while it is
// full, so the body streams into the parser and is never held whole. Its
// callbacks run inside libcurl's C frames: they never throw and only note
// why they stopped; the message is made afterwards.
class HttpSource::Transfer {
 public:
  Transfer() = default;
  ~Transfer() {
    if (multi_ != nullptr && easy_ != nullptr) curl_->multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_->easy_cleanup(easy_);
    if (multi_ != nullptr) curl_->multi_cleanup(multi_);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Starts the transfer and drives it until the final response's status is
  // known and its first body bytes have arrived, or it has ended. A failed
  // transfer and a status other than 2xx fail here, before any parsing.
  std::optional<ParseError> start(const std::string& url, const LoadSettings& settings) {
    std::string unavailable;
    curl_ = loadCurlLibrary(settings.httpLibrary, unavailable);
    if (curl_ == nullptr) return readError(kCannotFetchLocation, unavailable);
    maxBodyBytes_ = settings.maxHttpBodyBytes;
    maxHeaderBytes_ = settings.maxHttpHeaderBytes;
    easy_ = curl_->easy_init();
    multi_ = curl_->multi_init();
    if (easy_ == nullptr || multi_ == nullptr) {
      return readError(kCannotFetchLocation, "cannot start a transfer");
    }
    curl_->easy_setopt(easy_, CURLOPT_URL, url.c_str());
    curl_->easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_->easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_->easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_->easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_->easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, settings.connectTimeoutMs);
    curl_->easy_setopt(easy_, CURLOPT_TIMEOUT_MS, settings.totalTimeoutMs);
    // An announced length over the cap fails before the body is read.
    curl_->easy_setopt(easy_, CURLOPT_MAXFILESIZE_LARGE,
                       static_cast<curl_off_t>(std::min<uint64_t>(maxBodyBytes_, INT64_MAX)));
    // Bytes reach the parser as the server encoded them: no Accept-Encoding
    // is sent and a Content-Encoding is never undone (the parser then
    // refuses what is not XML).
    curl_->easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_->easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_->easy_setopt(easy_, CURLOPT_USERAGENT, "quarvel");
    curl_->easy_setopt(easy_, CURLOPT_ERRORBUFFER, message_);
    curl_->easy_setopt(easy_, CURLOPT_HEADERFUNCTION, onHeader);
    curl_->easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_->easy_setopt(easy_, CURLOPT_WRITEFUNCTION, onBody);
    curl_->easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    if (curl_->multi_add_handle(multi_, easy_) != CURLM_OK) {
      return readError(kCannotFetchLocation, "cannot start a transfer");
    }
    fill();
    if (std::optional<ParseError> failure = this->failure()) return failure;
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

  std::optional<ParseError> failure() const {
    // libcurl's own stop for an announced length over the cap reads as ours.
    const Stop stop = ended_ && result_ == CURLE_FILESIZE_EXCEEDED ? Stop::kBodyCap : stop_;
    switch (stop) {
      case Stop::kNone:
        break;
      case Stop::kHeaderCap:
        return readError(kCannotFetchLocation, "the server sent more than " +
                                                   std::to_string(maxHeaderBytes_) +
                                                   " bytes of header and trailer lines");
      case Stop::kTransferEncoding:
        return readError(kCannotFetchLocation,
                         "unsupported transfer encoding: " + std::string(encoding_));
      case Stop::kBodyCap:
        return readError(kCannotFetchLocation,
                         "the document is larger than " + std::to_string(maxBodyBytes_) + " bytes");
      case Stop::kStatus:
        return statusFailure();
      case Stop::kNoMemory:
        return readError(kCannotFetchLocation, "out of memory");
      case Stop::kMulti:
        return readError(kCannotFetchLocation, "the transfer cannot go on");
    }
    // libcurl holds one header line in a buffer of CURL_MAX_HTTP_HEADER
    // bytes and ends the transfer with CURLE_OUT_OF_MEMORY ("Out of
    // memory") when a line outgrows it; onHeader never sees that line. Before
    // the body, nothing else of libcurl's fails that way but for want of a
    // few bytes.
    if (ended_ && result_ == CURLE_OUT_OF_MEMORY && !statusChecked_) {
      return readError(kCannotFetchLocation, "the server sent a header line longer than " +
                                                 std::to_string(CURL_MAX_HTTP_HEADER) + " bytes");
    }
    if (ended_ && result_ != CURLE_OK) {
      return readError(kCannotFetchLocation,
                       message_[0] != '\0' ? message_ : curl_->easy_strerror(result_));
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
    curl_->easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return status;
  }
  // Only a 2xx response carries the document; an error page or a redirect
  // that was not followed does not.
  bool hasSuccessStatus() const { return status() >= 200 && status() <= 299; }
  ParseError statusFailure() const {
    return readError(kCannotFetchLocation, "HTTP status " + std::to_string(status()));
  }

  // Drives the transfer until body bytes wait unread or it has ended.
  void fill() {
    while (unread() == 0 && !ended_) {
      buffer_.clear();
      taken_ = 0;
      if (paused_) {
        paused_ = false;
        // May hand over the bytes held back at once.
        curl_->easy_pause(easy_, CURLPAUSE_CONT);
      }
      int running = 0;
      if (curl_->multi_perform(multi_, &running) != CURLM_OK) {
        stop_ = Stop::kMulti;
        ended_ = true;
        break;
      }
      int left = 0;
      while (const CURLMsg* message = curl_->multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE) {
          ended_ = true;
          result_ = message->data.result;
        }
      }
      if (unread() > 0 || ended_) break;
      if (curl_->multi_poll(multi_, nullptr, 0, kPollMs, nullptr) != CURLM_OK) {
        stop_ = Stop::kMulti;
        ended_ = true;
      }
    }
  }

  // Every header and trailer line of every response passes here, so one
  // count caps them all. A Transfer-Encoding that libcurl would undo beyond
  // chunking stops the transfer before its body.
  static size_t onHeader(char* data, size_t size, size_t count, void* context) noexcept {
    auto* self = static_cast<Transfer*>(context);
    const size_t length = size * count;
    self->headerBytes_ += length;
    if (self->headerBytes_ > self->maxHeaderBytes_) {
      self->stop_ = Stop::kHeaderCap;
      return 0;  // makes libcurl abort the transfer
    }
    const std::string_view line(data, length);
    constexpr std::string_view kName = "transfer-encoding:";
    if (!startsWithIgnoringAsciiCase(line, kName)) return length;
    std::string_view codings = line.substr(kName.size());
    while (!codings.empty()) {
      const size_t comma = codings.find(',');
      const std::string_view coding = trimmed(codings.substr(0, comma));
      codings = comma == std::string_view::npos ? std::string_view() : codings.substr(comma + 1);
      if (coding.empty() || equalIgnoringAsciiCase(coding, "chunked") ||
          equalIgnoringAsciiCase(coding, "identity")) {
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
    auto* self = static_cast<Transfer*>(context);
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

  // Null until start() has loaded libcurl; then every call goes through it.
  const CurlLibrary* curl_ = nullptr;
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

HttpSource::HttpSource() = default;

HttpSource::~HttpSource() = default;

std::optional<ParseError> HttpSource::start(const std::string& url, const LoadSettings& settings) {
  transfer_ = std::make_unique<Transfer>();
  std::optional<ParseError> failure = transfer_->start(url, settings);
  if (failure) transfer_.reset();
  return failure;
}

int HttpSource::readSome(char* buffer, int length) noexcept {
  if (transfer_ == nullptr) return -1;
  return transfer_->read(buffer, static_cast<size_t>(length));
}

ParseError HttpSource::why() const {
  if (transfer_ != nullptr) {
    if (std::optional<ParseError> failure = transfer_->failure()) return *std::move(failure);
  }
  return readError(kCannotFetchLocation, "the transfer cannot go on");
}

}  // namespace quarvel
