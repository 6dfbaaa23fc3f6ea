// What pairstat-scan says on standard error: a line of its own, a warning,
// or the one line of a failure that ends it.
#pragma once

#include <string>

namespace pairstat {

// Writes TEXT to standard error as it stands.
void tell(const std::string& text);
// "pairstat-scan: warning: TEXT".
void warn(const std::string& text);
// "pairstat-scan: TEXT", then the process ends with STATUS.
[[noreturn]] void die(int status, const std::string& text);

// The exit statuses of pairstat-scan beyond a run's own.
inline constexpr int scanusage = 64;     // a command, an option or a folder name it can't take
inline constexpr int scannoinput = 66;   // no folder to work on where some were meant, a list that is gone
inline constexpr int scannoprogram = 69; // no pairstat to run, no sbatch
inline constexpr int scancantcreate = 73;  // a file of the submission can't be made

}  // namespace pairstat
