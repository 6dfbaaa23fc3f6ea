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

// N and the word for N things: "1 folder", "3 folders".
std::string plural(long n, const char* one, const char* many);

// The folder this process runs in, absolute ("." where the system would not
// say).
std::string here();
// This program's own file, absolute; empty where the system would not say.
std::string self();

// The exit statuses of pairstat-scan beyond a run's own.
inline constexpr int scanfailed = 1;     // a run failed or left no record; no job was made
inline constexpr int scanusage = 64;     // a command, an option or a folder name it can't take
inline constexpr int scannoinput = 66;   // no folder to work on where some were meant, a list that is gone
inline constexpr int scannoprogram = 69; // no pairstat to run, no sbatch
inline constexpr int scancantcreate = 73;  // a file of the submission can't be made
inline constexpr int scanioerror = 74;     // a list or table that can't be written out

}  // namespace pairstat
