#include "records/record.hpp"

#include <gtest/gtest.h>

#include <string>

#include "records/escape.hpp"

namespace pairstat {
namespace {

const std::string header(recordheader);
const std::string older = std::string(recordstart) + "\n";  // the first version's header

// A line of this version's fields: STATUS, and DATA and CONTROL at the end.
std::string line(const char* status, const char* data = "d1", const char* control = "c1", const char* limit = "1000") {
    return std::string("/f\t") + status + "\t4.0\t5.0\t2\t0.625\t0.125\t\t\t\t\t\t\t\t\t" + limit + "\t" + data + "\t" +
           control + "\n";
}

// What a file's content is taken for: a record of this version or an
// older one, and whether it says its run succeeded; anything else is no
// record, which a run never replaces.
TEST(record, forms) {
    struct formcase {
        std::string text;
        recordform form;
        bool succeeded;
    };
    const formcase cases[] = {
        {"", recordform::empty, false},
        {header + line("0"), recordform::current, true},
        {header + line("65"), recordform::current, false},
        {older + "/f\t0\t4.0\t5.0\t2\t0.625\t0.125\t\t\t\t\t\n", recordform::older, true},
        {older + "/f\t0\t4.0\t5.0\t2\t0.625\t0.125\t\t\t\t\t\textra\n", recordform::older, true},  // a later version's
        {older + "/f\t0\t4.0\t5.0\n", recordform::notrecord, false},                                  // too few fields
        {header + line("0").substr(0, 40) + "\n", recordform::notrecord, false},  // this version's, fields missing
        {header + line("0") + line("0"), recordform::notrecord, false},           // two lines: a table
        {header + line("0").substr(0, line("0").size() - 1), recordform::notrecord, false},  // no line end
        {header, recordform::notrecord, false},
        {std::string(recordstart) + "s\n/f\t0\t4.0\t5.0\t2\t0.625\t0.125\t\t\t\t\t\n", recordform::notrecord, false},  // "messages"
        {"folder\tstatusx\n/f\t0\n", recordform::notrecord, false},
        {header + line("x"), recordform::current, false},   // a status that is no number
        {header + line("-1"), recordform::current, false},
        {header + line("256"), recordform::current, false},
        {" 4.0 5.0 0.625 0.125\n", recordform::notrecord, false},  // a results file
    };
    for (const formcase& c : cases) {
        const recordview got = parserecord(c.text);
        EXPECT_EQ(got.form, c.form) << c.text;
        EXPECT_EQ(got.succeeded(), c.succeeded) << c.text;
    }
    EXPECT_EQ(parserecord(header + line("0")).field("control"), "c1");
    EXPECT_EQ(parserecord(header + line("0")).field("nosuch"), "");
    // A later version's header, which names a field its line lacks.
    EXPECT_EQ(parserecord(header.substr(0, header.size() - 1) + "\tlater\n" + line("0")).field("later"), "");
}

// Up to date: this version's record of a run that succeeded on the very
// inputs and pair limit given; nothing else.
TEST(record, uptodate) {
    const recordview ok = parserecord(header + line("0"));
    EXPECT_TRUE(uptodate(ok, "d1", "c1", "1000"));
    EXPECT_FALSE(uptodate(ok, "d2", "c1", "1000"));
    EXPECT_FALSE(uptodate(ok, "d1", "c2", "1000"));
    EXPECT_FALSE(uptodate(ok, "d1", "c1", "all"));
    EXPECT_FALSE(uptodate(parserecord(header + line("0", "", "")), "", "", "1000"));  // inputs without fingerprints
    EXPECT_FALSE(uptodate(parserecord(header + line("74")), "d1", "c1", "1000"));
    EXPECT_FALSE(uptodate(parserecord(older + "/f\t0\t4.0\t5.0\t2\t0.625\t0.125\t\t\t\t\t\n"), "d1", "c1", "1000"));
}

// A record field holds no tab and no line end, and reads back to its bytes.
TEST(record, fieldtext) {
    const std::string bytes = std::string("a\tb\nc\\d\x01\x19\x1a\x1f\x7f\xc3\xa9 e", 17);
    const std::string field = recordtext(bytes);
    EXPECT_EQ(field, "a\\tb\\nc\\\\d\\x01\\x19\\x1a\\x1f\\x7f\xc3\xa9 e\\x00");
    std::string back;
    EXPECT_TRUE(recordbytes(field, back));
    EXPECT_EQ(back, bytes);
    for (const char* bad : {"\\", "x\\q", "\\x4", "\\xg0"}) EXPECT_FALSE(recordbytes(bad, back)) << bad;
    // An escape cut by the field's end, whatever follows it in memory.
    EXPECT_FALSE(recordbytes(std::string_view("\\x4f", 3), back));
    EXPECT_FALSE(recordbytes(std::string_view("ab\\x4f", 5), back));
}

// The journal's note reads back whole, or not at all: cut, changed by hand,
// or after a longer note's tail it is still told apart.
TEST(record, note) {
    const appendnote note{"d1", "c\t1", 1234, " 4.0 5.0 0.625 0.125\n"};
    const std::string text = notetext(note);
    appendnote back;
    ASSERT_TRUE(readnote(text, back));
    EXPECT_EQ(notetext(back), text);
    EXPECT_TRUE(readnote(text + "tail of a longer note\n", back));
    for (std::size_t cut = 0; cut + 1 < text.size(); ++cut) EXPECT_FALSE(readnote(text.substr(0, cut), back)) << cut;
    std::string changed = text;
    changed[changed.find("1234")] = '2';
    EXPECT_FALSE(readnote(changed, back));
    EXPECT_FALSE(readnote("", back));
    EXPECT_FALSE(readnote(text.substr(0, text.find('\n') + 1) + "a line without a field's end\n", back));
}

}  // namespace
}  // namespace pairstat
