#include "support/compressed_bodies.h"

#include <QtGlobal>

#include <zlib.h>

namespace orvane::test {

std::string compressed(std::string body, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(body.size() + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(body.data()), z.avail_in = uInt(body.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data()), z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    deflateEnd(&z);
    return out.substr(0, z.total_out);
}

std::string emptyMembersGzipped(int count) {
    const std::string member = compressed("", 31);
    std::string block;
    for (int i = 0; i < 4096; ++i)
        block += member;
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    std::string out;
    char chunk[16 * 1024];
    for (int left = count; left > 0 || z.avail_in > 0;) {
        const int take = std::min(left, 4096);
        left -= take;
        z.next_in = reinterpret_cast<Bytef*>(block.data());
        z.avail_in = uInt(take * member.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(chunk), z.avail_out = sizeof chunk;
            deflate(&z, left > 0 ? Z_NO_FLUSH : Z_FINISH);
            out.append(chunk, sizeof chunk - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

std::string emptyDynamicBlocks(int count) {
    std::string out("\x78\x9c", 2);
    quint32 bits = 0;
    int used = 0;
    // Huffman codes go out from their first bit; `put` packs from the lowest.
    const auto put = [&](quint32 value, int n, bool code = false) {
        for (int i = 0; i < n; ++i) {
            bits |= ((value >> (code ? n - 1 - i : i)) & 1u) << used;
            if (++used == 8) {
                out += char(bits);
                bits = 0;
                used = 0;
            }
        }
    };
    const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (int block = 0; block < count; ++block) {
        put(0, 1), put(2, 2);               // not the last, dynamic codes
        put(29, 5), put(29, 5), put(15, 4); // 286 lengths, 30 distances, 19 length codes
        for (const int symbol : order)      // lengths 4, 5, 8 and 9 get two-bit codes: 00 … 11
            put(symbol == 4 || symbol == 5 || symbol == 8 || symbol == 9 ? 2 : 0, 3);
        for (int symbol = 0; symbol < 286; ++symbol) // 226 of 8 bits, 60 of 9
            put(symbol < 226 ? 2 : 3, 2, true);
        for (int distance = 0; distance < 30; ++distance) // 2 of 4 bits, 28 of 5
            put(distance < 2 ? 0 : 1, 2, true);
        put(452 + (256 - 226), 9, true); // the end of the block, and nothing in it
    }
    put(1, 1), put(1, 2), put(0, 7); // the last block: fixed codes, empty
    if (used > 0)
        out += char(bits);
    return out + std::string("\0\0\0\1", 4); // Adler-32 of nothing
}

} // namespace orvane::test
