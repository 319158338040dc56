// Ending a run that is interrupted (SIGINT, SIGTERM, SIGHUP, and SIGPIPE
// when standard output is closed) without leaving debris: a temporary file
// is removed, a file being appended to is cut back to its old length, one
// line goes to standard error, and the run ends with status 128 + the
// signal's number.
//
// Only the program installs the handlers. Until it does, the functions that
// name what to undo do nothing, so that the library never touches this
// process-wide state.
#ifndef VORLEX_BASE_INTERRUPT_H_
#define VORLEX_BASE_INTERRUPT_H_

#include <sys/types.h>

#include <string>

namespace vorlex::core {

// Installs the handlers for the rest of the process.
void EndRunOnInterrupt();

// Names the file that an interruption removes (one at a time; a path too
// long to hold is not removed).
void RemoveOnInterrupt(const std::string& path);
// Names an open descriptor that an interruption cuts back to `length`.
void TruncateOnInterrupt(int fd, off_t length);
// Forgets what the two above named: the work is done or undone.
void ForgetOnInterrupt();

// Holds those signals back while it lives, for a step that must not be
// cut in half (writing a file in place and, if that fails, writing the old
// contents back); one that arrives meanwhile ends the run afterwards.
class InterruptsHeldBack {
 public:
  InterruptsHeldBack();
  ~InterruptsHeldBack();
  InterruptsHeldBack(const InterruptsHeldBack&) = delete;
  InterruptsHeldBack& operator=(const InterruptsHeldBack&) = delete;

 private:
  bool held_ = false;
};

}  // namespace vorlex::core

#endif  // VORLEX_BASE_INTERRUPT_H_
