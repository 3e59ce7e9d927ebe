// libcurl linked into the program (the static library of the Windows build;
// see curl_library.h).
#include "document/curl_library.h"

namespace quarvel {

const CurlLibrary* loadCurlLibrary(const char*, std::string&) {
  static const CurlLibrary library = [] {
    CurlLibrary calls;
#define QUARVEL_CURL_LINK(call) calls.call = &::curl_##call;
    QUARVEL_CURL_CALLS(QUARVEL_CURL_LINK)
#undef QUARVEL_CURL_LINK
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return calls;
  }();
  return &library;
}

}  // namespace quarvel
