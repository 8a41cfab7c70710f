// libcoredebug_stdout.cpp - debug output to stdout and the fatal reports.
#include "corefile/coredebug.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

void _dbg_init(void) {}

void _dbg_shutdown(void) {}

int _dbg_printf(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = vprintf(format, ap);
    va_end(ap);
    return n;
}

// Ends at once with status 1. exit() would run destructors and atexit handlers while
// other threads (demo, audio) may still be running; only stdout is flushed first.
[[noreturn]] static void dbg_die(void)
{
    fflush(stdout);
    _Exit(1);
}

void _dbg_assert(const char *file, int line, const char *expr)
{
    printf("%s(%d): assertion failed: %s\n", file, line, expr);
    dbg_die();
}

void error(const char *message)
{
    printf("Error: %s\n", message);
    dbg_die();
}
