// The formatting run: byte-order mark, then the walk of the root element with
// the default settings, then the end of the last block.
#ifndef QUARVEL_FRONTEND_FORMATTING_RUN_H_
#define QUARVEL_FRONTEND_FORMATTING_RUN_H_

#include "document/xml_document.h"
#include "platform/text_output.h"

namespace quarvel {

enum class RunOutcome { kCompleted, kOutOfMemory };

// Starts `out` (FF FE in the normal output) and writes the formatted
// document to it. Text after the last block element is finished like a
// block of its own, so nothing is lost. On an allocation failure (a layout
// allocation that yielded nothing, or std::bad_alloc from anywhere in the
// walk) the out-of-memory message has been written to standard error, the
// output ends where printing had reached, and kOutOfMemory is returned;
// std::bad_alloc never leaves this call. Write errors stay in `out` for the
// caller to check, and `out` is not flushed.
RunOutcome formatDocument(XmlNode root, TextEncoder& out);

}  // namespace quarvel

#endif  // QUARVEL_FRONTEND_FORMATTING_RUN_H_
