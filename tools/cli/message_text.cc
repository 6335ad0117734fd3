#include "tools/cli/message_text.h"

#include "textio/utf8.h"

namespace korvelan::tools {
namespace {

constexpr std::string_view kLibraryPrefix = "korvelan: ";

// The escaped form of one byte, or empty when the byte stands for itself.
std::string Escape(unsigned char byte) {
  switch (byte) {
    case '\t': return "\\t";
    case '\n': return "\\n";
    case '\r': return "\\r";
    default: break;
  }
  constexpr char kDigits[] = "0123456789abcdef";
  return {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
}

}  // namespace

std::string MessageLine(std::string_view text) {
  if (text.starts_with(kLibraryPrefix)) text.remove_prefix(kLibraryPrefix.size());
  return EscapedText(text, kMessageLimit);
}

std::string EscapedText(std::string_view text, std::size_t limit) {
  std::string line;
  while (!text.empty()) {
    unsigned code_point = 0;
    std::size_t length = textio::Utf8Length(text, code_point);
    std::string piece;
    // C1 controls (U+0080 .. U+009F) act on terminals as ESC sequences do.
    if (length == 0 || code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0)) {
      piece = Escape(static_cast<unsigned char>(text[0]));
      length = 1;
    } else {
      piece = text.substr(0, length);
    }
    if (line.size() + piece.size() > limit) {
      line += " ...";
      break;
    }
    line += piece;
    text.remove_prefix(length);
  }
  return line;
}

int StatusOf(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kUsage: return kStatusUsage;
    case ErrorKind::kStopped: return kStatusCtrlC;
    case ErrorKind::kData: break;
  }
  return kStatusData;
}

int ReportError(std::ostream& err, std::string_view program, const std::exception& error) {
  const auto* tool = dynamic_cast<const ToolError*>(&error);
  const ErrorKind kind = tool != nullptr ? tool->kind() : ErrorKind::kData;
  err << program << ": " << MessageLine(error.what());
  if (kind == ErrorKind::kUsage) err << " (see " << program << " --help)";
  err << "\n";
  return StatusOf(kind);
}

}  // namespace korvelan::tools
