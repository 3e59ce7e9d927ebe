#include "frontend/formatting_run.h"

#include "layout/formatter.h"
#include "layout/line_style.h"
#include "layout/out_of_memory.h"
#include "markup/walker.h"

namespace quarvel {

RunOutcome formatDocument(XmlNode root, TextEncoder& out) {
  // Strings of the XML layer and the walker's own containers allocate with
  // new; running out there is the same stop as in the layout.
  const bool completed = completesOrRunsOut([&] {
    Formatter top;
    LineStyle style;
    style.out = &out;
    out.start();
    walkNode(FormatState{top, style}, root);
    // The root has no end action of its own; without this, text after the
    // last block element would lose its last two lines.
    top.finishBlock(style);
  });
  return completed ? RunOutcome::kCompleted : RunOutcome::kOutOfMemory;
}

}  // namespace quarvel
