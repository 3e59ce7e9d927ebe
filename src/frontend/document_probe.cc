#include "frontend/document_probe.h"

#include "document/xml_document.h"
#include "frontend/formatting_run.h"
#include "layout/allocation.h"
#include "markup/document_check.h"
#include "markup/vocabulary.h"
#include "platform/text_output.h"

namespace quarvel {
namespace {

constexpr std::string_view kUrl = "probe.xml";
constexpr std::string_view kByteOrderMark = "\xFF\xFE";
constexpr std::string_view kRowEnd{"\r\0\n\0", 4};

// Gives the gate back its defaults however the run ends.
class BudgetScope {
 public:
  explicit BudgetScope(std::size_t bytes) { AllocationGate::setBudget(bytes); }
  ~BudgetScope() { AllocationGate::reset(); }
  BudgetScope(const BudgetScope&) = delete;
  BudgetScope& operator=(const BudgetScope&) = delete;
};

std::string checkParseError(const ParseError& error) {
  if (error.reason.empty() || error.reason.back() != u'\n') {
    return "the parse error's reason does not end with a line end";
  }
  if (error.url != std::u16string(kUrl.begin(), kUrl.end())) {
    return "the parse error does not name the document";
  }
  if (error.line < 0 || error.linepos < 0) return "the parse error has a negative position";
  return {};
}

// --check on the same bytes: every finding has a place and one line.
std::string checkFindings(std::string_view bytes) {
  XmlDocument document;
  document.loadMemory(
      bytes, kUrl, LoadSettings{.recordPositions = true, .keepsBlanksWithin = keepsBlanksWithin});
  if (document.parseError().errorCode != 0) return "positions change whether a document loads";
  std::string problem;
  checkDocument(document.documentElement(), [&](const Finding& finding) {
    if (!problem.empty()) return false;
    if (finding.at.line == 0 || finding.at.column == 0) {
      problem = "a finding without its position";
    } else if (finding.message.find_first_of(u"\r\n") != std::u16string::npos) {
      problem = "a finding of more than one line";
    }
    return problem.empty();
  });
  return problem;
}

}  // namespace

std::string probeDocument(std::string_view bytes) {
  XmlDocument document;
  document.loadMemory(bytes, kUrl, LoadSettings{.keepsBlanksWithin = keepsBlanksWithin});
  if (document.parseError().errorCode != 0) return checkParseError(document.parseError());
  const XmlNode root = document.documentElement();
  if (!root) return "a document that loaded without error has no root element";

  MemoryText out(kProbeOutputLimit);
  RunOutcome outcome;
  std::size_t leftover;
  {
    const BudgetScope budget(kProbeAllocationBudget);
    outcome = formatDocument(root, out);
    leftover = AllocationGate::bytesInUse();
  }
  const std::string& written = out.bytes();
  if (leftover != 0) {
    return std::to_string(leftover) + " bytes of layout records outlived the formatting run";
  }
  if (!written.starts_with(kByteOrderMark)) return "the output does not start with FF FE";
  if (outcome == RunOutcome::kCompleted && !out.failed()) {
    if (written.size() % 2 != 0) return "the output ends in the middle of a code unit";
    if (written.size() > kByteOrderMark.size() && !written.ends_with(kRowEnd)) {
      return "the last row does not end with CR LF";
    }
  }
  return checkFindings(bytes);
}

}  // namespace quarvel
