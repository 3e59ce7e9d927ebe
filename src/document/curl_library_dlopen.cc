// libcurl loaded with dlopen when the first URL is read, so that runs on
// files and standard input never load it (see curl_library.h).
#include <dlfcn.h>

#include <mutex>

#include "document/curl_library.h"

namespace quarvel {
namespace {

std::string loaderReason() {
  const char* reason = dlerror();
  return reason != nullptr ? reason : "no reason given";
}

}  // namespace

const CurlLibrary* loadCurlLibrary(const char* name, std::string& failure) {
  static std::mutex mutex;
  static CurlLibrary library;
  static bool loaded = false;
  const std::lock_guard<std::mutex> lock(mutex);
  if (loaded) return &library;
  if (name == nullptr) name = kCurlLibraryName;
  const std::string prefix = std::string("http and https need ") + name;
  // Never closed: libcurl stays for the rest of the process, as it would
  // if it were linked.
  void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    failure = prefix + ", which cannot be loaded: " + loaderReason();
    return nullptr;
  }
  CurlLibrary calls;
  std::string missing;
#define QUARVEL_CURL_LOOKUP(call)                                                      \
  if (missing.empty()) {                                                               \
    dlerror();                                                                         \
    calls.call = reinterpret_cast<decltype(calls.call)>(dlsym(handle, "curl_" #call)); \
    if (calls.call == nullptr) missing = loaderReason();                               \
  }
  QUARVEL_CURL_CALLS(QUARVEL_CURL_LOOKUP)
#undef QUARVEL_CURL_LOOKUP
  if (!missing.empty()) {
    dlclose(handle);
    failure = prefix + ", which lacks a call that quarvel makes: " + missing;
    return nullptr;
  }
  // Before any other call, and once: curl_global_init is not thread-safe.
  if (calls.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    failure = prefix + ", which cannot be initialised";
    return nullptr;
  }
  library = calls;
  loaded = true;
  return &library;
}

}  // namespace quarvel
