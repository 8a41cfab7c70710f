// corefile-std.cpp - the CORE resource image (or a mounted host directory) and the file
// API over it.
#include "corefile/corefile.h"

#include <string.h>

int32_t corefile_gethash(const char *name)
{
    // Sum of the bytes as signed 8-bit values, wrapping in 32 bits.
    uint32_t sum = 0;
    for (const unsigned char *p = (const unsigned char *)name; *p; p++)
        sum += (uint32_t)(int32_t)(int8_t)*p;
    return (int32_t)sum;
}

uint32_t getint(const unsigned char *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

void file_downcase(char *dst, const char *src, int length)
{
    for (int i = 0; i < length; i++) {
        char c = src[i];
        dst[i] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    }
}
