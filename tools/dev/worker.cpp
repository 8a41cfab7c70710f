// worker.cpp - starting and ending the worker process.
#include "tools/dev/worker.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

static pid_t worker = -1;
static int ended_status;      // waitpid's status once it ended
static int ended;

int dev_worker_start(int width, int height, const char *data, char *why, int whysize)
{
    if (worker > 0) dev_worker_stop();
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        snprintf(why, (size_t)whysize, "the program's own file cannot be found (%s)", strerror(errno));
        return 0;
    }
    exe[n] = 0;
    char size[32];
    snprintf(size, sizeof size, "%dx%d", width, height);
    std::vector<std::string> args = { exe, "--worker", "--size", size };
    if (data) args.push_back("--data"), args.push_back(data);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        snprintf(why, (size_t)whysize, "fork failed (%s)", strerror(errno));
        return 0;
    }
    if (pid == 0) {
        // Only calls that are safe between fork and exec in a threaded program.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        setpriority(PRIO_PROCESS, 0, 10);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1);   // the start-up's loading lines
        execv(exe, argv.data());
        _exit(127);
    }
    worker = pid;
    ended = 0;
    return 1;
}

int dev_worker_state(char *why, int whysize)
{
    if (worker > 0) {
        int st = 0;
        pid_t r = waitpid(worker, &st, WNOHANG);
        if (r == 0) return 1;
        worker = -1;
        ended = 1;
        ended_status = r == -1 ? 0 : st;   // -1: reaped elsewhere, nothing to say
    }
    if (!ended) return 0;
    int st = ended_status;
    if (WIFEXITED(st) && WEXITSTATUS(st) == 0) return 0;
    if (WIFEXITED(st) && WEXITSTATUS(st) == DEV_WORKER_NO_GL) snprintf(why, (size_t)whysize, "it cannot render off-screen here");
    else if (WIFEXITED(st) && WEXITSTATUS(st) == 127) snprintf(why, (size_t)whysize, "the program could not be started again");
    else if (WIFEXITED(st)) snprintf(why, (size_t)whysize, "it ended with status %d", WEXITSTATUS(st));
    else snprintf(why, (size_t)whysize, "it ended on signal %d", WIFSIGNALED(st) ? WTERMSIG(st) : 0);
    return -1;
}

void dev_worker_stop(void)
{
    if (worker <= 0) return;
    kill(worker, SIGTERM);
    ended = 0;
    for (int i = 0; i < 200; i++) {
        if (waitpid(worker, nullptr, WNOHANG) == worker) {
            worker = -1;
            return;
        }
        struct timespec ts = { 0, 10 * 1000000 };
        nanosleep(&ts, nullptr);
    }
    kill(worker, SIGKILL);
    waitpid(worker, nullptr, 0);
    worker = -1;
}
