#include "records/fingerprint.hpp"

#include <bit>
#include <algorithm>
#include <cstring>
#include <memory>

namespace pairstat {

namespace {

// Odd, so that multiplying by them maps the 2^64 words one to one.
constexpr std::uint64_t oddone = 0x9e3779b97f4a7c15;
constexpr std::uint64_t oddtwo = 0xc2b2ae3d27d4eb4f;
constexpr std::uint64_t oddthree = 0x165667b19e3779f9;
constexpr std::uint64_t oddfour = 0xd6e8feb86659fd93;

std::uint64_t rotate(std::uint64_t x, int by) { return (x << by) | (x >> (64 - by)); }

// Spreads every bit of X over every bit of the result.
std::uint64_t spread(std::uint64_t x) {
    x ^= x >> 32;
    x *= oddfour;
    x ^= x >> 29;
    x *= oddtwo;
    x ^= x >> 32;
    return x;
}

std::uint64_t wordof(const unsigned char* bytes) {
    // Little-endian whatever the machine, so that the digits are the same
    // everywhere.
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        std::uint64_t turned = 0;
        for (int k = 0; k < 8; ++k) turned = (turned << 8) | ((word >> (8 * k)) & 0xff);
        word = turned;
    }
    return word;
}

}  // namespace

void fingerprint::step(const unsigned char* bytes) {
    a = rotate(a ^ (wordof(bytes) * oddone), 29) * oddtwo;
    b = rotate(b + (wordof(bytes + 8) * oddthree), 31) * oddfour;
}

void fingerprint::add(const char* bytes, std::size_t count) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    length += count;
    if (heldcount > 0) {
        const std::size_t taken = std::min(count, sizeof held - heldcount);
        std::memcpy(held + heldcount, p, taken);
        heldcount += taken;
        p += taken;
        count -= taken;
        if (heldcount < sizeof held) return;
        step(held);
        heldcount = 0;
    }
    for (; count >= sizeof held; count -= sizeof held, p += sizeof held) step(p);
    std::memcpy(held, p, count);
    heldcount = count;
}

std::string fingerprint::digits() const {
    unsigned char last[16] = {};
    std::memcpy(last, held, heldcount);
    const std::uint64_t first = wordof(last);
    const std::uint64_t second = wordof(last + 8);
    const std::uint64_t x = spread(a ^ rotate(first * oddthree, 17) ^ length);
    const std::uint64_t y = spread(b + (second * oddone) + rotate(length, 23) + x);
    static const char hex[] = "0123456789abcdef";
    std::string out(fingerprintlength, '0');
    for (int k = 0; k < 16; ++k) {
        out[static_cast<std::size_t>(15 - k)] = hex[(x >> (4 * k)) & 15];
        out[static_cast<std::size_t>(31 - k)] = hex[(y >> (4 * k)) & 15];
    }
    return out;
}

sysresult fingerprintfile(const char* name, std::string& digits) {
    digits.clear();
    const sysresult opened = sys::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (!opened.ok()) return opened;
    const int fd = static_cast<int>(opened.value);
    struct stat st;
    sysresult got = sys::fstat(fd, st);
    if (got.ok() && S_ISREG(st.st_mode)) {
        constexpr std::size_t blocksize = 64 * 1024;
        const auto block = std::make_unique_for_overwrite<char[]>(blocksize);
        fingerprint print;
        while ((got = sys::read(fd, block.get(), blocksize)).ok() && got.value > 0)
            print.add(block.get(), static_cast<std::size_t>(got.value));
        if (got.ok()) digits = print.digits();
    }
    sys::close(fd);
    return got;
}

}  // namespace pairstat
