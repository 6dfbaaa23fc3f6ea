#include "scan/say.hpp"

#include <cstdlib>

#include <unistd.h>

#include "records/system.hpp"

namespace pairstat {

void tell(const std::string& text) { writeall(STDERR_FILENO, text.data(), text.size()); }

void warn(const std::string& text) { tell("pairstat-scan: warning: " + text + "\n"); }

void die(int status, const std::string& text) {
    tell("pairstat-scan: " + text + "\n");
    std::exit(status);
}

std::string plural(long n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

std::string here() {
    const std::string path = sys::cwd();
    return path.empty() ? "." : path;
}

std::string self() {
    char path[4096];
    const sysresult n = sys::readlink("/proc/self/exe", path, sizeof path);
    return n.ok() ? std::string(path, static_cast<std::size_t>(n.value)) : std::string();
}

}  // namespace pairstat
