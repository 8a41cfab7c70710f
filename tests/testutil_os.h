// testutil_os.h - the few operating-system calls the tests need, on Linux and on
// Windows (where the tests run under Wine): temporary folders, removing a tree,
// symbolic links, the working directory, file sizes, the environment, sleeping,
// running a program and the usable size of a heap block.
#ifndef TESTS_TESTUTIL_OS_H
#define TESTS_TESTUTIL_OS_H

#include <stddef.h>

#include <string>
#include <vector>

// Makes a new, empty folder "/tmp/<prefix>" followed by six random characters and
// returns its path ("" on failure). Under Wine "/tmp" is the host's /tmp.
std::string tu_mkdtemp(const char *prefix);
// Removes path and everything below it. Links are removed, never followed. 0 on
// success (also when path does not exist).
int tu_rmtree(const std::string &path);
// Creates a symbolic link at link that points to target (a path relative to the
// link's folder, as symlink() takes it). 0 on success.
int tu_symlink(const std::string &target, const std::string &link);
// Folders and files by any path length (Windows limits its plain calls to 260
// characters; the walk of a deep tree needs longer ones to be made).
int tu_mkdir(const std::string &path);             // 0 on success
int tu_writefile(const std::string &path, const std::string &data);  // 0 on success
int tu_chdir(const std::string &path);             // 0 on success
std::string tu_getcwd(void);                       // "" on failure
long long tu_filesize(const std::string &path);    // -1 when it cannot be read
void tu_setenv(const char *name, const char *value);
void tu_sleep_ms(unsigned ms);
// Runs program (a path, without the ".exe" a Windows program file has) with args and
// waits for it. Its standard output goes to out_path, or nowhere when that is empty;
// its standard error nowhere. Returns its exit status, -1 when it could not run.
int tu_run(const std::string &program, const std::vector<std::string> &args, const std::string &out_path = "");
// Usable size of a block from malloc, as the runtime's heap reports it.
size_t tu_usable_size(void *block);
// For tests that must not have a sound device mixing behind them: makes sure none
// opens (SDL's driver is pointed at one that does not exist; under Wine the test
// stage switches the audio drivers off, and this checks that it did). 1 when so.
int tu_no_audio_device(void);
// Where DISPLAY is set the test command has started what the tests that need a
// window, GL or a sound device run on (Xvfb, Mesa's GL, SDL's disk driver): such a
// test that finds none there fails, since a skip would lose its coverage silently.
// Elsewhere (a plain terminal, the window-less run under Wine) it is skipped, saying
// what it lacked. TU_NEED(ok, what) in a test body or SetUp; needs gtest.h.
int tu_display_set(void);
#define TU_NEED(ok, what)                                                       \
    do {                                                                        \
        if (!(ok)) {                                                            \
            if (tu_display_set()) FAIL() << what << " (though DISPLAY is set)"; \
            GTEST_SKIP() << what;                                               \
        }                                                                       \
    } while (0)

#endif
