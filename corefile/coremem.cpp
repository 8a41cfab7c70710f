// coremem.cpp - accounted heap wrappers and block copy/fill routines.
#include "corefile/coremem.h"
#include "platform/platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

uint32_t g_mem_in_use = 0;
uint32_t g_mem_in_use_peak = 0;

void *_wrap_malloc(int size)
{
    return size < 0 ? NULL : malloc((size_t)size);
}

void *_wrap_malloc_dbg(int size, const char *file, int line)
{
    void *p = size < 0 ? NULL : malloc((size_t)size);
    if (!p) {
        printf("%s(%d): wrap_malloc(%d) failed!\n", file, line, size);
        return NULL;
    }
    // The counters are 32-bit and wrap, as the heap query is asked again on free.
    g_mem_in_use += plat_mem_usable(p);
    if (g_mem_in_use > g_mem_in_use_peak)
        g_mem_in_use_peak = g_mem_in_use;
    return p;
}

void _wrap_free(void *block)
{
    free(block);
}

void _wrap_free_dbg(void *block, const char *file, int line)
{
    if (!block) {
        printf("%s(%d): wrap_free() tried to free a NULL pointer!\n", file, line);
        return;
    }
    g_mem_in_use -= plat_mem_usable(block);
    free(block);
}

void *_wrap_malloc_iwram(int size) { return _wrap_malloc(size); }
void *_wrap_malloc_iwram_dbg(int size, const char *file, int line) { return _wrap_malloc_dbg(size, file, line); }
void _wrap_free_iwram(void *block) { _wrap_free(block); }
void _wrap_free_iwram_dbg(void *block, const char *file, int line) { _wrap_free_dbg(block, file, line); }

// Word at a time while more than 3 bytes remain, then the 0 to 3 last bytes singly.
// Words move through memcpy so unaligned blocks are fine.
static void mem_copy(unsigned char *d, const unsigned char *s, size_t length)
{
    while (length > 3) {
        uint32_t w;
        memcpy(&w, s, 4);
        memcpy(d, &w, 4);
        d += 4;
        s += 4;
        length -= 4;
    }
    while (length > 0) {
        *d++ = *s++;
        length--;
    }
}

void wrap_memcpy(void *dst, const void *src, int length)
{
    if (length > 0)
        mem_copy((unsigned char *)dst, (const unsigned char *)src, (size_t)length);
}

void wrap_memcpy16(void *dst, const void *src, int count)
{
    if (count > 0)
        mem_copy((unsigned char *)dst, (const unsigned char *)src, (size_t)count * 2);
}

void wrap_memcpy32(void *dst, const void *src, int count)
{
    if (count > 0)
        mem_copy((unsigned char *)dst, (const unsigned char *)src, (size_t)count * 4);
}

void wrap_memset(void *dst, int value, int length)
{
    unsigned char *d = (unsigned char *)dst;
    unsigned char b = (unsigned char)value;
    uint32_t w = b * 0x01010101u;
    while (length > 3) {
        memcpy(d, &w, 4);
        d += 4;
        length -= 4;
    }
    while (length > 0) {
        *d++ = b;
        length--;
    }
}

void wrap_memclr(void *dst, int length)
{
    wrap_memset(dst, 0, length);
}

void wrap_showusage(void)
{
    printf("memory usage: %d (peak: %d)\n", (int)g_mem_in_use, (int)g_mem_in_use_peak);
}
