// libcurl's calls as HttpSource makes them, through one table. On Linux the
// library is loaded when the first URL is read (curl_library_dlopen.cc): a run
// on a file or standard input then never maps it, nor the TLS, Kerberos, LDAP
// and other libraries that it brings, nor runs their initialisers. On Windows
// the static libcurl is linked in (curl_library_linked.cc).
#ifndef QUARVEL_DOCUMENT_CURL_LIBRARY_H_
#define QUARVEL_DOCUMENT_CURL_LIBRARY_H_

#include <curl/curl.h>

#include <string>

namespace quarvel {

// Every libcurl call that quarvel makes, without its curl_ prefix: the one
// list from which the table and both ways of filling it are written.
#define QUARVEL_CURL_CALLS(CALL) \
  CALL(global_init)              \
  CALL(easy_init)                \
  CALL(easy_cleanup)             \
  CALL(easy_setopt)              \
  CALL(easy_getinfo)             \
  CALL(easy_pause)               \
  CALL(easy_strerror)            \
  CALL(multi_init)               \
  CALL(multi_cleanup)            \
  CALL(multi_add_handle)         \
  CALL(multi_remove_handle)      \
  CALL(multi_perform)            \
  CALL(multi_info_read)          \
  CALL(multi_poll)

// The calls, each with libcurl's own signature: `curl.easy_init()` is
// curl_easy_init().
struct CurlLibrary {
#define QUARVEL_CURL_MEMBER(name) decltype(&::curl_##name) name = nullptr;
  QUARVEL_CURL_CALLS(QUARVEL_CURL_MEMBER)
#undef QUARVEL_CURL_MEMBER
};

// The library where it is loaded at run time: the soname of Debian's libcurl4.
inline constexpr const char* kCurlLibraryName = "libcurl.so.4";

// libcurl, with curl_global_init done once, when it is first had; it stays
// for the rest of the process. `name` (null: kCurlLibraryName) names the
// shared library where it is loaded at run time, and is ignored where it is
// linked in or once one has loaded. Null when the library cannot be loaded
// or lacks one of the calls; `failure` then says so, naming the library and
// the loader's reason, and the next call tries again. Thread-safe.
const CurlLibrary* loadCurlLibrary(const char* name, std::string& failure);

}  // namespace quarvel

#endif  // QUARVEL_DOCUMENT_CURL_LIBRARY_H_
