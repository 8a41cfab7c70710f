// md5.cpp - MD5 as RFC 1321 gives it, over little-endian 32-bit words.
#include "corefile/md5.h"

#include <string.h>

#include <vector>

namespace {

const uint32_t K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
const uint8_t R[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

uint32_t rotl(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

void compress(uint32_t st[4], const uint8_t b[64])
{
    uint32_t w[16];
    for (int i = 0; i < 16; i++)
        w[i] = (uint32_t)b[4 * i] | (uint32_t)b[4 * i + 1] << 8 | (uint32_t)b[4 * i + 2] << 16 |
               (uint32_t)b[4 * i + 3] << 24;
    uint32_t a = st[0], bb = st[1], c = st[2], d = st[3];
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (bb & c) | (~bb & d);
            g = i;
        } else if (i < 32) {
            f = (d & bb) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = bb ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (bb | ~d);
            g = (7 * i) & 15;
        }
        uint32_t t = d;
        d = c;
        c = bb;
        bb = bb + rotl(a + f + K[i] + w[g], R[i]);
        a = t;
    }
    st[0] += a;
    st[1] += bb;
    st[2] += c;
    st[3] += d;
}

}  // namespace

void md5_init(s_md5 *m)
{
    m->state[0] = 0x67452301;
    m->state[1] = 0xefcdab89;
    m->state[2] = 0x98badcfe;
    m->state[3] = 0x10325476;
    m->bytes = 0;
}

void md5_update(s_md5 *m, const void *data, size_t size)
{
    if (size == 0) return;  // data may then be null
    const uint8_t *p = (const uint8_t *)data;
    size_t have = (size_t)(m->bytes & 63);
    m->bytes += size;
    if (have) {
        size_t take = 64 - have < size ? 64 - have : size;
        memcpy(m->block + have, p, take);
        p += take;
        size -= take;
        if (have + take < 64) return;
        compress(m->state, m->block);
    }
    for (; size >= 64; p += 64, size -= 64) compress(m->state, p);
    if (size) memcpy(m->block, p, size);
}

void md5_final(s_md5 *m, uint8_t digest[16])
{
    uint64_t bits = m->bytes * 8;
    static const uint8_t pad[64] = { 0x80 };
    size_t have = (size_t)(m->bytes & 63);
    md5_update(m, pad, have < 56 ? 56 - have : 120 - have);
    uint8_t len[8];
    for (int i = 0; i < 8; i++) len[i] = (uint8_t)(bits >> (8 * i));
    md5_update(m, len, 8);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) digest[4 * i + j] = (uint8_t)(m->state[i] >> (8 * j));
}

void md5_frame(const uint8_t *rgba, int w, int h, uint8_t digest[16])
{
    s_md5 m;
    md5_init(&m);
    std::vector<uint8_t> row((size_t)(w > 0 ? w : 0) * 3);
    for (int y = h - 1; y >= 0; y--) {
        const uint8_t *p = rgba + (size_t)y * w * 4;
        for (int x = 0; x < w; x++) {
            row[3 * x] = p[4 * x];
            row[3 * x + 1] = p[4 * x + 1];
            row[3 * x + 2] = p[4 * x + 2];
        }
        md5_update(&m, row.data(), row.size());
    }
    md5_final(&m, digest);
}

void md5_hex(const uint8_t digest[16], char out[33])
{
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; i++) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[32] = 0;
}
