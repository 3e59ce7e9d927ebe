#include "frontend/formatting_run.h"

#include <new>

#include "layout/formatter.h"
#include "layout/line_style.h"
#include "layout/out_of_memory.h"
#include "markup/walker.h"

namespace quarvel {

RunOutcome formatDocument(XmlNode root, ByteSink& out) {
  try {
    Formatter top;
    LineStyle style;
    style.out = &out;
    out.put(0xFF);
    out.put(0xFE);
    walkNode(FormatState{top, style}, root);
    // The root has no end action of its own; without this, text after the
    // last block element would lose its last two lines.
    top.finishBlock(style);
  } catch (const CaException&) {
    return RunOutcome::kOutOfMemory;
  } catch (const std::bad_alloc&) {
    // Strings of the XML layer and the walker's own containers allocate
    // with new; running out there is the same stop as in the layout.
    writeOutOfMemoryMessage();
    return RunOutcome::kOutOfMemory;
  }
  return RunOutcome::kCompleted;
}

}  // namespace quarvel
