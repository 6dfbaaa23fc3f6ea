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

}  // namespace pairstat
