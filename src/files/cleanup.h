#pragma once

#include <string_view>

// What an interrupted run must not leave behind: a temporary file that it made under a name of
// its own.
namespace files {

/// Asks that every catchable signal whose default action ends the process (SIGINT, SIGTERM,
/// SIGHUP, SIGQUIT, SIGALRM, SIGUSR1 …, the real-time ones) remove the temporary file being
/// written, then end the process as it would have. Only a flag is set here: the handlers are
/// installed when the first named temporary file is made (install_cleanup_handlers_if_enabled),
/// so a run that makes none spends nothing on them. A signal that the process ignores then stays
/// ignored.
void enable_cleanup_on_termination_signals();

/// Removes the temporary file being written, if any: for a run that ends by an exception (memory
/// that ran out) rather than by a signal, whose unwinding passed over the code that would have.
void remove_pending_temporary_file();

/// Holds the termination signals back for its lifetime; one that arrives meanwhile takes effect
/// when they are let through again, so that what is done meanwhile is done whole. Holds within
/// a hold cost nothing.
class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld();
  ~TerminationSignalsHeld();
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;
};

/// Installs the handlers that enable_cleanup_on_termination_signals asked for, once; nothing
/// when it was not called.
void install_cleanup_handlers_if_enabled();

/// Names the temporary file `name` in the folder open at `folder` as the one to remove, or
/// clears it (mark_pending_temporary_file(-1, "")). Called while the signals are held.
void mark_pending_temporary_file(int folder, std::string_view name);

}  // namespace files
