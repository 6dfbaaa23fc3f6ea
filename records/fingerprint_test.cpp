#include "records/fingerprint.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace pairstat {
namespace {

std::string printof(const std::string& text, std::size_t piece) {
    fingerprint print;
    for (std::size_t k = 0; k < text.size(); k += piece) print.add(text.data() + k, std::min(piece, text.size() - k));
    return print.digits();
}

// The content, not the pieces it comes in, makes the fingerprint: every
// length around a step's 16 bytes, in pieces of every size up to past it.
TEST(fingerprint, pieces) {
    std::string text;
    for (int k = 0; k < 70; ++k) text += static_cast<char>('a' + k % 26);
    for (std::size_t length = 0; length <= text.size(); ++length) {
        const std::string part = text.substr(0, length);
        const std::string whole = printof(part, part.size() + 1);
        for (std::size_t piece = 1; piece <= 18; ++piece) EXPECT_EQ(printof(part, piece), whole) << length << " " << piece;
    }
}

// Every change of one bit, anywhere in a data file's worth of lines, and
// every added or dropped last byte, gives a fingerprint of its own.
TEST(fingerprint, everychange) {
    const std::string text = "40 50 1 0.01\n40 50 4 0.02\n40 50 2 0.01\n40 50 4 0.02\n40 50 0 0.01\n";
    std::set<std::string> seen{printof(text, 64)};
    for (std::size_t at = 0; at < text.size(); ++at)
        for (int bit = 0; bit < 8; ++bit) {
            std::string changed = text;
            changed[at] = static_cast<char>(changed[at] ^ (1 << bit));
            EXPECT_TRUE(seen.insert(printof(changed, 64)).second) << at << " " << bit;
        }
    for (std::size_t length = 0; length < text.size(); ++length)
        EXPECT_TRUE(seen.insert(printof(text.substr(0, length), 64)).second) << length;
    EXPECT_TRUE(seen.insert(printof(text + '\0', 64)).second);
    // Two lines swapped: the same bytes in another order.
    std::string swapped = text.substr(13, 13) + text.substr(0, 13) + text.substr(26);
    EXPECT_TRUE(seen.insert(printof(swapped, 64)).second);
}

// A file's fingerprint is its content's; a pipe has none and is not read.
TEST(fingerprint, files) {
    char name[] = "/tmp/pairstat.XXXXXX";
    const int fd = ::mkstemp(name);
    const std::string text(100000, 'x');
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
    std::string digits;
    EXPECT_TRUE(fingerprintfile(name, digits).ok());
    EXPECT_EQ(digits, printof(text, 4096));
    ::unlink(name);
    EXPECT_EQ(fingerprintfile(name, digits).error, ENOENT);
    ASSERT_EQ(::mkfifo(name, 0600), 0);
    const int writer = ::open(name, O_RDWR);  // a writer that never writes: a read would wait
    EXPECT_TRUE(fingerprintfile(name, digits).ok());
    EXPECT_EQ(digits, "");
    ::close(writer);
    ::unlink(name);
}

}  // namespace
}  // namespace pairstat
