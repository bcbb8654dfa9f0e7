#include "files/cleanup.h"

#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace files {

namespace {

// The signals whose default action ends the process, but for the faults of the program's own
// instructions (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS): the kernel forces those
// through whatever is held, and a sanitizer or a debugger must see them first. The real-time
// signals are added at run time.
constexpr int kTerminationSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGABRT, SIGUSR1,  SIGUSR2,
                                       SIGPIPE, SIGALRM,   SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ,
                                       SIGVTALRM, SIGPROF, SIGIO,   SIGPWR};

const sigset_t& termination_signals() {
  static const sigset_t signals = [] {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kTerminationSignals) sigaddset(&set, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&set, signal);
    return set;
  }();
  return signals;
}

// The temporary file being written, for the signal handler to remove: its folder's descriptor
// and its name there. Set and cleared only while the termination signals are held back, so
// that the handler never sees half a name, nor the name of a file that another process created
// or that is already renamed into place.
int pending_folder = -1;
char pending_name[NAME_MAX + 1];
volatile std::sig_atomic_t has_pending_temp = 0;

bool handlers_wanted = false;
bool handlers_installed = false;

int hold_depth = 0;
sigset_t mask_before_hold;

void remove_pending_temp_and_end(int signal) {
  if (has_pending_temp != 0) ::unlinkat(pending_folder, pending_name, 0);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(signal, &default_action, nullptr);
  // The signal is held while its handler runs, so this one ends the process on return.
  ::raise(signal);
}

}  // namespace

TerminationSignalsHeld::TerminationSignalsHeld() {
  if (hold_depth++ == 0) ::sigprocmask(SIG_BLOCK, &termination_signals(), &mask_before_hold);
}

TerminationSignalsHeld::~TerminationSignalsHeld() {
  if (--hold_depth == 0) ::sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

void install_cleanup_handlers_if_enabled() {
  if (!handlers_wanted || handlers_installed) return;
  handlers_installed = true;
  struct sigaction action {};
  action.sa_handler = remove_pending_temp_and_end;
  action.sa_mask = termination_signals();
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigismember(&termination_signals(), signal) != 1) continue;
    struct sigaction previous {};
    if (::sigaction(signal, &action, &previous) != 0) continue;
    // A run started with the signal ignored (nohup, a background job) goes on ignoring it, and
    // so does one the entry chose to ignore (SIGPIPE, SIGXFSZ).
    if (previous.sa_handler == SIG_IGN) ::sigaction(signal, &previous, nullptr);
  }
}

void mark_pending_temporary_file(int folder, std::string_view name) {
  has_pending_temp = 0;
  if (pending_folder >= 0) ::close(std::exchange(pending_folder, -1));
  if (folder < 0 || name.size() >= sizeof pending_name) return;  // too long to have been made
  // A descriptor of its own: a run that ends by an exception has closed the folder's by the time
  // it removes the file.
  pending_folder = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (pending_folder < 0) return;
  std::memcpy(pending_name, name.data(), name.size());
  pending_name[name.size()] = '\0';
  has_pending_temp = 1;
}

void remove_pending_temporary_file() {
  const TerminationSignalsHeld held;
  if (has_pending_temp != 0) ::unlinkat(pending_folder, pending_name, 0);
  mark_pending_temporary_file(-1, "");
}

void enable_cleanup_on_termination_signals() { handlers_wanted = true; }

}  // namespace files
