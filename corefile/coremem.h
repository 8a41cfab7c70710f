// coremem.h - heap wrappers with usage accounting, and block copy/fill routines.
//
// The _dbg allocators count each block's usable heap size (asked of the heap) in
// g_mem_in_use and keep the highest total in g_mem_in_use_peak. Blocks from the plain
// allocators must not be freed through the _dbg frees (the counter would wrap).
// Not thread-safe: all accounted allocation happens on one thread.
#ifndef COREFILE_COREMEM_H
#define COREFILE_COREMEM_H

#include <stdint.h>

extern uint32_t g_mem_in_use;       // bytes held through the accounted allocators
extern uint32_t g_mem_in_use_peak;  // highest value g_mem_in_use has reached

// Plain heap allocation, not counted. Null on failure (or a negative size).
void *_wrap_malloc(int size);
// Counted allocation; on failure prints "<file>(<line>): wrap_malloc(<size>) failed!"
// and returns null with the counters unchanged.
void *_wrap_malloc_dbg(int size, const char *file, int line);
// Plain free, not counted.
void _wrap_free(void *block);
// Counted free; a null block is reported ("... wrap_free() tried to free a NULL pointer!")
// and ignored.
void _wrap_free_dbg(void *block, const char *file, int line);
// Twins of the four calls above (same heap, same counters).
void *_wrap_malloc_iwram(int size);
void *_wrap_malloc_iwram_dbg(int size, const char *file, int line);
void _wrap_free_iwram(void *block);
void _wrap_free_iwram_dbg(void *block, const char *file, int line);

// Copies length bytes (regions must not overlap); length <= 0 copies nothing.
void wrap_memcpy(void *dst, const void *src, int length);
// Copies count 16-bit words.
void wrap_memcpy16(void *dst, const void *src, int count);
// Copies count 32-bit words.
void wrap_memcpy32(void *dst, const void *src, int count);
// Fills length bytes with the low byte of value.
void wrap_memset(void *dst, int value, int length);
// Fills length bytes with zero.
void wrap_memclr(void *dst, int length);
// Prints "memory usage: <in use> (peak: <peak>)".
void wrap_showusage(void);

#endif
