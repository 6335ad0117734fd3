// The one error of reading study inputs and writing a run's record
// (korvelan/inputs.h), with its kind: what a front end makes of it (an
// exit status, an R condition, a Python exception) depends on the kind
// alone.
#ifndef KORVELAN_INPUT_ERROR_H_
#define KORVELAN_INPUT_ERROR_H_

#include <stdexcept>
#include <string>

namespace korvelan {

enum class InputErrorKind {
  kData,     // the inputs or the file system
  kUsage,    // a setting (an argument of the front end)
  kStopped,  // a signal stopped a read
};

// The one error of reading and writing: a complete one-line message.
class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message, InputErrorKind kind = InputErrorKind::kData)
      : std::runtime_error(message), kind_(kind) {}
  InputErrorKind kind() const { return kind_; }

 private:
  InputErrorKind kind_;
};

}  // namespace korvelan

#endif  // KORVELAN_INPUT_ERROR_H_
