#include "records/fingerprint.hpp"

#include <gtest/gtest.h>

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
