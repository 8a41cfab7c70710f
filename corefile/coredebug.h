// coredebug.h - diagnostic output of the resource-file layer, and its fatal reports.
// Output goes straight to stdout; the layer prints all of its messages through here.
#ifndef COREFILE_COREDEBUG_H
#define COREFILE_COREDEBUG_H

// Opens the debug channel; stdout needs nothing, so it does nothing.
void _dbg_init(void);
// Closes the debug channel; does nothing.
void _dbg_shutdown(void);
// Formats to stdout exactly as vprintf does and returns what vprintf returns.
int _dbg_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Prints "<file>(<line>): assertion failed: <expr>" and ends the process with status 1.
// No clean-up runs (stdout is flushed so the message is not lost).
[[noreturn]] void _dbg_assert(const char *file, int line, const char *expr);
// Prints "Error: <message>" and ends the process with status 1, as _dbg_assert does.
// (A C++ overload beside the C library's error(int, int, const char *, ...).)
[[noreturn]] void error(const char *message);

#endif
