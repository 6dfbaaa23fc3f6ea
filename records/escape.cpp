#include "records/escape.hpp"

namespace pairstat {

namespace {

constexpr char hex[] = "0123456789abcdef";

void addhex(std::string& out, unsigned char c) {
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 15];
}

int hexdigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

namespace {

std::string escaped(std::string_view text, bool quoted, std::size_t most) {
    std::string out;
    std::size_t k = 0;
    for (; k < text.size() && out.size() < most; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        if (c == '\\' || (quoted && c == '"')) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            addhex(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    if (k < text.size()) out += "...";
    return out;
}

}  // namespace

std::string shown(std::string_view text, bool quoted) { return escaped(text, quoted, shownlength); }

std::string whole(std::string_view text) { return escaped(text, false, std::string_view::npos); }

std::string recordtext(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            addhex(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

bool recordbytes(std::string_view field, std::string& text) {
    text.clear();
    text.reserve(field.size());
    for (std::size_t k = 0; k < field.size(); ++k) {
        if (field[k] != '\\') {
            text += field[k];
            continue;
        }
        if (++k == field.size()) return false;
        const char c = field[k];
        if (c == 't') {
            text += '\t';
        } else if (c == 'n') {
            text += '\n';
        } else if (c == '\\') {
            text += '\\';
        } else if (c == 'x' && k + 2 < field.size() && hexdigit(field[k + 1]) >= 0 && hexdigit(field[k + 2]) >= 0) {
            text += static_cast<char>(hexdigit(field[k + 1]) * 16 + hexdigit(field[k + 2]));
            k += 2;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace pairstat
