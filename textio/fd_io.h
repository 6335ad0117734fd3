// Internal to textio: raw descriptor writes and the file registry that the
// endings use. Not part of the module's contract.
#ifndef KORVELAN_TEXTIO_FD_IO_H_
#define KORVELAN_TEXTIO_FD_IO_H_

#include <string>
#include <string_view>

namespace korvelan::textio::internal {

// Writes all of `bytes` to `fd`, going on after short writes and EINTR.
// Returns 0, or the errno of the failure.
int WriteAll(int fd, std::string_view bytes);

// Whether the calling thread holds OutputLock() through a ResultsFile
// (BeginWriting .. EndAndClose); the console writers then do not lock again.
bool ThisThreadHoldsOutputLock();

// Called by an interrupt that gave up waiting for a stalled console write:
// from now on no results file starts to be written (BeginWriting waits for
// the process to end instead). Returns whether one is being written already,
// in which case the interrupt must wait for it to be complete and closed.
bool StopResultsForInterrupt();

// Closes every registered descriptor; results files first write out their
// buffered bytes. With `checked`, returns the report line of the first
// failed write or close of a results file ("" when all went well); without,
// failures are ignored. Each descriptor is closed once.
std::string CloseRegisteredFiles(bool checked);

}  // namespace korvelan::textio::internal

#endif  // KORVELAN_TEXTIO_FD_IO_H_
