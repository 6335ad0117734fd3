#include "textio/termination.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace korvelan::textio {
namespace {

struct CatalogEntry {
  Severe number;
  const char* text;
  bool has_channel;  // text ends with "unit %d, file %s"
};

constexpr CatalogEntry kCatalog[] = {
    {Severe::kPermission, "permission to access file denied", true},
    {Severe::kEndOfFile, "end-of-file during read", true},
    {Severe::kFileNotFound, "file not found", true},
    {Severe::kOpenFailure, "open failure", true},
    {Severe::kNoMemory, "insufficient virtual memory", false},
    {Severe::kSyntax, "list-directed I/O syntax error", true},
    {Severe::kConversion, "input conversion error", true},
    {Severe::kAlreadyAllocated, "allocatable array is already allocated", false},
    {Severe::kNotAllocated, "allocatable array or pointer is not allocated", false},
    {Severe::kBounds, "Program Exception - array bounds exceeded", false},
};

const CatalogEntry* Find(Severe number) {
  for (const CatalogEntry& e : kCatalog) {
    if (e.number == number) return &e;
  }
  return nullptr;
}

// The scope stack is shared by every thread that might raise a condition,
// so it is guarded; scopes are coarse (phases, library routines), so the
// lock costs nothing measurable.
std::mutex& ScopeMutex() {
  static std::mutex m;
  return m;
}
struct Scope {
  const PhaseScope* owner;
  const char* name;
};
std::vector<Scope>& Scopes() {
  static std::vector<Scope> s;
  return s;
}

}  // namespace

std::string SevereText(Severe number, int unit, std::string_view name) {
  const CatalogEntry* e = Find(number);
  if (e == nullptr) return "unknown condition";
  std::string text = e->text;
  if (e->has_channel) {
    text += ", unit ";
    text += std::to_string(unit);
    text += ", file ";
    text += name;
  }
  return text;
}

Termination::Termination(Kind kind, int number, int unit, std::string text, int status)
    : kind_(kind), number_(number), unit_(unit), text_(std::move(text)), status_(status) {
  if (kind_ == Kind::kSevere) stack_ = StackListing();
}

Termination Termination::SevereCondition(Severe number) {
  return Termination(Kind::kSevere, static_cast<int>(number), 0, std::string(), 0);
}

Termination Termination::SevereIo(Severe number, int unit, std::string name) {
  Termination t(Kind::kSevere, static_cast<int>(number), unit, std::move(name), 0);
  t.has_unit_ = true;
  return t;
}

Termination Termination::Stop(int status) {
  return Termination(Kind::kStop, 0, 0, std::string(), status);
}

Termination Termination::Message(std::string line, int status) {
  return Termination(Kind::kMessage, 0, 0, std::move(line), status);
}

std::string Termination::ReportLine() const {
  switch (kind_) {
    case Kind::kSevere:
      return "forrtl: severe (" + std::to_string(number_) +
             "): " + SevereText(static_cast<Severe>(number_), unit_, text_);
    case Kind::kMessage: return text_;
    case Kind::kStop: break;
  }
  return std::string();
}

int Termination::ExitStatus() const {
  if (kind_ == Kind::kSevere) {
    // The condition code 0xC0000000 + N; the process keeps its low byte.
    const unsigned code = 0xC0000000u + static_cast<unsigned>(number_);
    return static_cast<int>(code & 0xFFu);
  }
  return status_;
}

PhaseScope::PhaseScope(const char* name) {
  std::lock_guard<std::mutex> lock(ScopeMutex());
  Scopes().push_back({this, name});
}

PhaseScope::~PhaseScope() {
  // Removes its own entry, not merely the last one, so that scopes opened
  // meanwhile on another thread cannot make the stack lose track.
  std::lock_guard<std::mutex> lock(ScopeMutex());
  auto& s = Scopes();
  const auto it =
      std::find_if(s.rbegin(), s.rend(), [this](const Scope& e) { return e.owner == this; });
  if (it != s.rend()) s.erase(std::next(it).base());
}

std::string StackListing() {
  std::string out = "Call stack (innermost first):\r\n";
  std::lock_guard<std::mutex> lock(ScopeMutex());
  const std::vector<Scope>& s = Scopes();
  for (auto it = s.rbegin(); it != s.rend(); ++it) {
    out += "  in ";
    out += it->name;
    out += "\r\n";
  }
  out += "  in KORVELAN\r\n";
  return out;
}

}  // namespace korvelan::textio
