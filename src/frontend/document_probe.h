// One pass of arbitrary bytes through the whole program, as the fuzzer runs
// it and as the test suite replays the inputs the fuzzer keeps: load from
// memory, format into memory, then check what must hold for every input;
// then the same bytes through --check's document check.
#ifndef QUARVEL_FRONTEND_DOCUMENT_PROBE_H_
#define QUARVEL_FRONTEND_DOCUMENT_PROBE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quarvel {

// The output is cut off here (the sink then fails like a full disk).
inline constexpr std::size_t kProbeOutputLimit = std::size_t{4} << 20;
// Layout records a probe may hold at once, so that huge repeat counts stop
// at the out-of-memory stop within a fraction of a second.
inline constexpr std::size_t kProbeAllocationBudget = std::size_t{64} << 20;

// Loads `bytes` as a document and formats it under the limits above. Returns
// an empty string when everything that must hold for any input held, and
// otherwise says what broke. Leaves the allocation gate reset. An
// out-of-memory stop writes its message to standard error.
std::string probeDocument(std::string_view bytes);

}  // namespace quarvel

#endif  // QUARVEL_FRONTEND_DOCUMENT_PROBE_H_
