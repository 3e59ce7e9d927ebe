// libFuzzer target: every input is a document that goes through the whole
// program (load from memory, format into memory). A broken property is
// reported and aborts, so libFuzzer keeps the input like a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "frontend/document_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string fault =
      quarvel::probeDocument(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!fault.empty()) {
    std::fprintf(stderr, "document_fuzzer: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
