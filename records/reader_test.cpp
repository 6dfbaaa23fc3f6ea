#include "records/reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "records/report.hpp"

namespace pairstat {
namespace {

std::string number(double x) {
    char text[maxnumberlength];
    return std::string(text, formatnumber(x, text));
}

// Reads records from TEXT until the end of input or a failure, carrying the
// four items from one request to the next as the run does, all 9 at the start.
// Each record shows as its four values; "end" closes with the values the items
// hold then; a failure shows as "fail LINE:COL FOUND".
std::string records(inputstream& in) {
    double v[4] = {9, 9, 9, 9};
    std::string out;
    for (int request = 0; request < 8; ++request) {
        readoutcome got = readrecord(in, v[0], v[1], v[2], v[3]);
        if (!out.empty()) out += "; ";
        if (got.status == readstatus::badvalue)
            return out + "fail " + std::to_string(got.line) + ":" + std::to_string(got.column) + " " + got.found;
        if (got.status == readstatus::readerror) return out + "read error";
        if (got.status == readstatus::endofinput) out += "end ";
        out += number(v[0]) + " " + number(v[1]) + " " + number(v[2]) + " " + number(v[3]);
        if (got.status == readstatus::endofinput) return out;
    }
    return out;
}

std::string records(const std::string& text, std::size_t chunk = 64 * 1024) {
    inputstream in;
    openmemory(in, text.data(), text.data() + text.size(), chunk);
    return records(in);
}

struct recordcase {
    const char* text;
    const char* want;
};

const recordcase recordcases[] = {
    // one record a line, or spread over lines; the rest of a line is passed over
    {"40 50 1 0.01\n", "40.0 50.0 1.0 0.01; end 40.0 50.0 1.0 0.01"},
    {"40 50 1\n0.01\n41 1 2 3", "40.0 50.0 1.0 0.01; 41.0 1.0 2.0 3.0; end 41.0 1.0 2.0 3.0"},
    {"40 50 1 0.01 99 100\n1 2 3 4\n", "40.0 50.0 1.0 0.01; 1.0 2.0 3.0 4.0; end 1.0 2.0 3.0 4.0"},
    {"1 2 3 4 5\n6 7 8\n", "1.0 2.0 3.0 4.0; end 6.0 7.0 8.0 4.0"},
    {"\n\n  1 2 3 4\n\n \t \n5 6 7 8\n\n", "1.0 2.0 3.0 4.0; 5.0 6.0 7.0 8.0; end 5.0 6.0 7.0 8.0"},
    {"40 50", "end 40.0 50.0 9.0 9.0"},
    {"", "end 9.0 9.0 9.0 9.0"},
    // separators: commas with blanks around them, tabs, carriage returns
    {"40,50,1,0.01\n40 , 50 ,1, 0.01\n", "40.0 50.0 1.0 0.01; 40.0 50.0 1.0 0.01; end 40.0 50.0 1.0 0.01"},
    {"1\t2\t3\t4\r\n5 6 7 8\r\n", "1.0 2.0 3.0 4.0; 5.0 6.0 7.0 8.0; end 5.0 6.0 7.0 8.0"},
    {"1 2\r3 4\r", "1.0 2.0 3.0 4.0; end 1.0 2.0 3.0 4.0"},
    {"1,\n2,3,4", "1.0 2.0 3.0 4.0; end 1.0 2.0 3.0 4.0"},
    {"1\n,2,3,4", "1.0 2.0 3.0 4.0; end 1.0 2.0 3.0 4.0"},
    // null values keep what the item held
    {"1,,3,4", "1.0 9.0 3.0 4.0; end 1.0 9.0 3.0 4.0"},
    {"1, ,3,4", "1.0 9.0 3.0 4.0; end 1.0 9.0 3.0 4.0"},
    {",2,3,4", "9.0 2.0 3.0 4.0; end 9.0 2.0 3.0 4.0"},
    {"1,2,3,,\n5,6,7,8", "1.0 2.0 3.0 9.0; 5.0 6.0 7.0 8.0; end 5.0 6.0 7.0 8.0"},
    {"1,2,3,\n,5,6,7", "1.0 2.0 3.0 9.0; end 1.0 2.0 3.0 9.0"},
    {"1 2 3 4\n,,,\n", "1.0 2.0 3.0 4.0; end 1.0 2.0 3.0 4.0"},
    {"1 2 3 4\n,,,,\n", "1.0 2.0 3.0 4.0; 1.0 2.0 3.0 4.0; end 1.0 2.0 3.0 4.0"},
    // the slash ends a request
    {"1 2/ 3 4\n5 6 7 8\n", "1.0 2.0 9.0 9.0; 5.0 6.0 7.0 8.0; end 5.0 6.0 7.0 8.0"},
    {"1 2,/\n", "1.0 2.0 9.0 9.0; end 1.0 2.0 9.0 9.0"},
    {"/\n1 2 3 4", "9.0 9.0 9.0 9.0; 1.0 2.0 3.0 4.0; end 1.0 2.0 3.0 4.0"},
    {"1 2 3\n/\n", "1.0 2.0 3.0 9.0; end 1.0 2.0 3.0 9.0"},
    // repeat forms
    {"4*7", "7.0 7.0 7.0 7.0; end 7.0 7.0 7.0 7.0"},
    {"2*1 2*-3.5", "1.0 1.0 -3.5 -3.5; end 1.0 1.0 -3.5 -3.5"},
    {"2* 3 4", "9.0 9.0 3.0 4.0; end 9.0 9.0 3.0 4.0"},
    {"3*,4", "9.0 9.0 9.0 4.0; end 9.0 9.0 9.0 4.0"},
    {"1 3*/", "1.0 9.0 9.0 9.0; end 1.0 9.0 9.0 9.0"},
    {"6*1 2\n5 6 7 8", "1.0 1.0 1.0 1.0; 5.0 6.0 7.0 8.0; end 5.0 6.0 7.0 8.0"},
    {"0*1 2 3 4", "fail 1:1 0*1"},
    {"1 2 99999999999*1", "fail 1:5 99999999999*1"},
    {"1 2 3*x 4", "fail 1:5 3*x"},
    // number forms
    {"40 50 1.0d0 1e-2", "40.0 50.0 1.0 0.01; end 40.0 50.0 1.0 0.01"},
    {"1.0-3 1+2 1.5D+02 2d-1", "0.001 100.0 150.0 0.2; end 0.001 100.0 150.0 0.2"},
    {"1.0E-3 -2.5 .5 5.", "0.001 -2.5 0.5 5.0; end 0.001 -2.5 0.5 5.0"},
    {"+7 -0 0.1e1 1E+0", "7.0 -0.0 1.0 1.0; end 7.0 -0.0 1.0 1.0"},
    {"inf -Infinity NaN +INF", "Infinity -Infinity NaN Infinity; end Infinity -Infinity NaN Infinity"},
    {"-nan nAn iNfInItY -inf", "NaN NaN Infinity -Infinity; end NaN NaN Infinity -Infinity"},
    // correctly rounded, also out of range
    {"0.1 0.30000000000000004 1.7976931348623157e308 2.2250738585072014e-308",
     "0.1 0.30000000000000004 1.7976931348623157e+308 2.2250738585072014e-308; "
     "end 0.1 0.30000000000000004 1.7976931348623157e+308 2.2250738585072014e-308"},
    {"1e400 -1d400 1e-400 -1-400", "Infinity -Infinity 0.0 -0.0; end Infinity -Infinity 0.0 -0.0"},
    {"1.7976931348623159e308 2.4703282292062328e-324 2.4703282292062327e-324 4.9e-324",
     "Infinity 5e-324 0.0 5e-324; end Infinity 5e-324 0.0 5e-324"},
    {"0.00000000000000000001e-310 123456789e301 0e999999999999999999 0.0001e312",
     "0.0 Infinity 0.0 1e+308; end 0.0 Infinity 0.0 1e+308"},
    {"1e99999999999999999999 1e-99999999999999999999 10e307 0.1e-322",
     "Infinity 0.0 1e+308 1e-323; end Infinity 0.0 1e+308 1e-323"},
    // values that are not numbers, with line and column
    {"# header\n1 2 3 4", "fail 1:1 #"},
    {"1 2 3 4\n5 6 abc 8", "1.0 2.0 3.0 4.0; fail 2:5 abc"},
    {"1 2 3 4x", "fail 1:7 4x"},
    {"1e 2 3 4", "fail 1:1 1e"},
    {"1 . 3 4", "fail 1:3 ."},
    {"1 2 +- 4", "fail 1:5 +-"},
    {"1 2 3e+ 4", "fail 1:5 3e+"},
    {"1 2 1.5q3 4", "fail 1:5 1.5q3"},
    {"1 2 1.2.3 4", "fail 1:5 1.2.3"},
    {"1 2 'a' 4", "fail 1:5 'a'"},
    {"1 2 infinit 4", "fail 1:5 infinit"},
    {"1 2 0x10 4", "fail 1:5 0x10"},
    {"1 2 3 4\r\n 5 6 \"x\" 8\r\n", "1.0 2.0 3.0 4.0; fail 2:6 \\\"x\\\""},
};

TEST(reader, records) {
    // The text comes into the reader's block in pieces of every small size, so
    // values, separators and line ends straddle the refills.
    for (const recordcase& c : recordcases) {
        for (std::size_t chunk : {64 * 1024, 1, 2, 3, 5})
            EXPECT_EQ(records(c.text, chunk), c.want) << "input: " << c.text << "\nchunk: " << chunk;
    }
}

TEST(reader, binaryinputwithnul) {
    // The table above can't hold a NUL in its text.
    EXPECT_EQ(records(std::string("1 2 \0\x01 4", 8)), "fail 1:5 \\x00\\x01");
}

TEST(reader, valuelengthlimit) {
    std::string longest = "0.5" + std::string(4092, '0') + "1";  // 4096 characters
    EXPECT_EQ(records("1 2 3 " + longest), "1.0 2.0 3.0 0.5; end 1.0 2.0 3.0 0.5");
    EXPECT_EQ(records("1 2 3 " + longest + "0").substr(0, 12), "fail 1:7 0.5");
}

// A file, so that values and lines straddle the reader's blocks.
std::string recordsfromfile(const std::string& text) {
    char name[] = "/tmp/readertestXXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    inputstream in;
    EXPECT_EQ(openinput(in, name), 0);
    std::string out = records(in);
    unlink(name);
    return out;
}

TEST(reader, valuesacrossblocks) {
    const std::size_t block = 64 * 1024;
    // a value cut by the block boundary, a long line passed over, a long run of blanks
    std::string text = std::string(block - 3, ' ') + "1.25 2 3 4 " + std::string(3 * block, 'x') + "\n" +
                       "5 6" + std::string(2 * block + 7, ' ') + "\n\n7 8\n9 bad";
    EXPECT_EQ(recordsfromfile(text), "1.25 2.0 3.0 4.0; 5.0 6.0 7.0 8.0; fail 5:3 bad");
    // every offset of a value around the boundary
    for (std::size_t pad = block - 8; pad < block + 2; ++pad)
        EXPECT_EQ(recordsfromfile(std::string(pad, '\n') + "12345.5e-1 -0.5 2*1.5\n"),
                  "1234.55 -0.5 1.5 1.5; end 1234.55 -0.5 1.5 1.5");
}

TEST(reader, openfailures) {
    inputstream missing;
    EXPECT_EQ(openinput(missing, "/nonexistent/ttteste.dat"), ENOENT);
    inputstream folder;
    EXPECT_EQ(openinput(folder, "/tmp"), EISDIR);
}

// Reads one name from TEXT into a name that starts as "<previous>" padded.
std::string name(const std::string& text, std::size_t chunk) {
    inputstream in;
    openmemory(in, text.data(), text.data() + text.size(), chunk);
    char fname[namelength];
    std::memcpy(fname, "<previous>", namelength);
    readoutcome got = readname(in, fname);
    if (got.status == readstatus::endofinput) return "end";
    if (got.status != readstatus::complete)
        return "fail " + std::to_string(got.line) + ":" + std::to_string(got.column) + " " + got.found;
    return std::string("[").append(fname, namelength).append("]");
}

struct namecase {
    const char* text;
    const char* want;
};

const namecase namecases[] = {
    {"res.dat", "[res.dat   ]"},
    {"res.dat\n", "[res.dat   ]"},
    {"res.dat\r\n", "[res.dat   ]"},
    {"results_final.dat", "[results_fi]"},
    {"\n  \n\t res.dat more words\nnext", "[res.dat   ]"},
    {"out/res.dat", "[out       ]"},
    {"res,dat", "[res       ]"},
    {"'out/r.dat'", "[out/r.dat ]"},
    {"'my file'", "[my file   ]"},
    {"\"a,b/c d\"", "[a,b/c d   ]"},
    {"'it''s'", "[it's      ]"},
    {"\"say \"\"hi\"\"\"", "[say \"hi\"  ]"},
    {"'it\"s'", "[it\"s      ]"},
    {"'results_final.dat'", "[results_fi]"},
    {"'my\nfile'", "[myfile    ]"},
    {"'my\r\nfile'\r\n", "[myfile    ]"},
    {"''", "[          ]"},
    {"2*res.dat", "[res.dat   ]"},
    {"2*'a b'", "[a b       ]"},
    {"12345", "[12345     ]"},
    {"2024res", "[2024res   ]"},
    {"3*", "[<previous>]"},
    {"/", "[<previous>]"},
    {",res.dat", "[<previous>]"},
    {"", "end"},
    {"  \n\n\t\n", "end"},
    {"'res.dat", "fail 1:1 "},
    {"'res'.dat", "fail 1:6 ."},
    {"0*res", "fail 1:1 0*res"},
};

TEST(reader, names) {
    for (const namecase& c : namecases) {
        for (std::size_t chunk : {64 * 1024, 1, 2, 3})
            EXPECT_EQ(name(c.text, chunk), c.want) << "input: " << c.text << "\nchunk: " << chunk;
    }
}

TEST(reader, namewithnul) {
    EXPECT_EQ(name(std::string("res\0.dat", 8), 1), "fail 1:1 res\\x00.dat");
    EXPECT_EQ(name(std::string("'ab\0'", 5), 1), "fail 1:1 ab\\x00");
    // past the tenth character a NUL is cut off with the rest
    EXPECT_EQ(name(std::string("0123456789\0", 11), 1), "[0123456789]");
}

}  // namespace
}  // namespace pairstat
