#include "records/reader.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

#include "records/number.hpp"
#include "tests/cases.hpp"

namespace pairstat {
namespace {

std::string failure(const readoutcome& got) {
    return "fail " + std::to_string(got.line) + ":" + std::to_string(got.column) + " " +
           (got.found[0] == '\0' ? "end of file" : got.found);
}

// Reads records until the end of input or a failure, carrying the four items
// from one request to the next as the run does, all 9 at the start.
std::string records(inputstream& in) {
    double v[4] = {9, 9, 9, 9};
    std::string out;
    for (int request = 0; request < 8; ++request) {
        readoutcome got = readrecord(in, v[0], v[1], v[2], v[3]);
        if (!out.empty()) out += "; ";
        if (got.status == readstatus::badvalue) return out + failure(got);
        if (got.status == readstatus::readerror) return out + "read error";
        if (got.status == readstatus::endofinput) out += "end ";
        out += number(v[0]) + " " + number(v[1]) + " " + number(v[2]) + " " + number(v[3]);
        if (got.status == readstatus::endofinput) return out;
    }
    return out;
}

// What READ makes of TEXT, coming into the reader's block CHUNK bytes at a time.
std::string frommemory(const std::string& text, std::size_t chunk, std::string (*read)(inputstream&)) {
    inputstream in;
    in.openmemory(text.data(), text.data() + text.size(), chunk);
    return read(in);
}

std::string name(inputstream& in) {
    char fname[namelength];
    std::memcpy(fname, "<previous>", namelength);
    nametext written;
    readoutcome got = readname(in, fname, written);
    if (got.status == readstatus::endofinput) return "end";
    if (got.status == readstatus::readerror) return "read error";
    if (got.status != readstatus::complete) return failure(got);
    std::string out = std::string("[").append(fname, namelength).append("]");
    if (written.slash) out += " slash";
    if (written.written.size() > namelength) out += " written " + shown(written.written);
    return out;
}

// The text comes into the reader's block in pieces of every small size too, so
// values, separators and line ends straddle the refills.
TEST(reader, cases) {
    for (std::size_t chunk : {std::size_t{64 * 1024}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5}}) {
        for (const auto& [text, want] : cases("records.txt"))
            EXPECT_EQ(frommemory(text, chunk, records), want) << text << ", pieces of " << chunk;
        for (const auto& [text, want] : cases("names.txt"))
            EXPECT_EQ(frommemory(text, chunk, name), want) << text << ", pieces of " << chunk;
    }
}

TEST(reader, valuelengthlimit) {
    std::string longest = "0.5" + std::string(4092, '0') + "1";  // 4096 characters
    EXPECT_EQ(frommemory("1 2 3 " + longest, 1 << 16, records), "1.0 2.0 3.0 0.5; end 1.0 2.0 3.0 0.5");
    EXPECT_EQ(frommemory("1 2 3 " + longest + "0", 1 << 16, records).substr(0, 12), "fail 1:7 0.5");
    EXPECT_EQ(frommemory("1 2 3 0.5" + std::string(4090, '0') + "D1", 1 << 16, records).substr(0, 15),
              "1.0 2.0 3.0 5.0");
    EXPECT_EQ(frommemory("'" + std::string(4097, 'a') + "'", 1 << 16, name).substr(0, 13), "fail 1:1 aaaa");
}

// From a descriptor: the first value straddles the block boundary, a long
// line is passed over, and the connection fails in the middle of a value,
// which is a read error, not a value cut short. (The socket's peer closes with
// bytes it never read, so the reads after the data fail.)
// Makes IN read TEXT from a socket whose peer closes with bytes it never
// read, so that the reads after TEXT fail.
void failingafter(const std::string& text, inputstream& in) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    ASSERT_EQ(::write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ASSERT_EQ(::write(ends[0], "?", 1), 1);
    ::close(ends[1]);
    in.open(ends[0]);
}

// From a descriptor: the first value straddles the block boundary, a long
// line is passed over, and the connection fails in the middle of a value or a
// quoted name, which is a read error, not a value cut short.
TEST(reader, readerror) {
    inputstream data;
    failingafter(std::string(64 * 1024 - 2, ' ') + "1.25 2 3 4 " + std::string(1000, 'x') + "\n5 6 7 1.5e", data);
    EXPECT_EQ(records(data), "1.25 2.0 3.0 4.0; read error");
    EXPECT_EQ(data.error(), ECONNRESET);
    inputstream control;
    failingafter("'res.d", control);
    EXPECT_EQ(name(control), "read error");
}

}  // namespace
}  // namespace pairstat
