// The formatting run: byte-order mark, then the walk of the root element with
// the default settings, then the end of the last block.
#ifndef QUARVEL_FRONTEND_FORMATTING_RUN_H_
#define QUARVEL_FRONTEND_FORMATTING_RUN_H_

#include "document/xml_document.h"
#include "platform/byte_sink.h"

namespace quarvel {

enum class RunOutcome { kCompleted, kOutOfMemory };

// Writes FF FE and the formatted document to `out`. Text after the last
// block element is finished like a block of its own, so nothing is lost. On
// an allocation failure (a layout allocation that yielded nothing, or
// std::bad_alloc from anywhere in the walk) the out-of-memory message has
// been written to standard error, the output ends where printing had
// reached, and kOutOfMemory is returned. No exception leaves this call.
// Write errors stay in `out` for the caller to check.
RunOutcome formatDocument(XmlNode root, ByteSink& out);

}  // namespace quarvel

#endif  // QUARVEL_FRONTEND_FORMATTING_RUN_H_
