// System calls made again when a signal interrupted them before they did
// anything.
#pragma once

#include <cerrno>

namespace pairstat {

// Makes CALL (a system call returning -1 and setting errno on failure) until
// it ends other than by EINTR, and returns what it last returned.
template <class call>
auto retry(call make) {
    decltype(make()) result;
    do result = make();
    while (result == -1 && errno == EINTR);
    return result;
}

}  // namespace pairstat
