// Mounts the input as a CORE image (from the file's start, and through a start-position
// trailer), opens and reads every entry, lists the image, and closes it again. The
// accounted memory must return to where it started.
#include "corefile/corefile.h"
#include "corefile/coremem.h"
#include "corefile/corepack.h"
#include "corefile/dirent.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char g_path[64];

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    snprintf(g_path, sizeof(g_path), "/tmp/corefile_fuzz_%d.dat", (int)getpid());
    // The layer reports every step on stdout; the fuzzer's own output is on stderr.
    if (!freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

static void read_everything(void)
{
    static char buf[1 << 16];
    uint32_t n = corefile_image.numfiles;
    for (uint32_t i = 0; i < n; i++) {
        s_corefile f;
        memset(&f, 0, sizeof(f));
        if (!corefile_open(corefile_image.names[i], &f, 0))
            continue;
        int size = corefile_fsize(&f);
        int want = size < (int)sizeof(buf) - 16 ? size + 16 : (int)sizeof(buf);
        corefile_read(buf, 1, want, &f);
        corefile_feof(&f);
        corefile_seek(&f, size / 2, 0);
        corefile_gets(buf, 64, &f);
        corefile_rewind(&f);
        corefile_read(buf, 4, 2, &f);
        corefile_close(&f);
    }
    corefile_readdir(".*");
    if (corefile_numfiles > 0 && corefile_filelist[0].isdir) {
        corefile_chdir(corefile_filelist[0].name);
        corefile_readdir(".tga");
        corefile_chdir("..");
    }
    void *whole = corefile_loadbuffer(n ? corefile_image.names[0] : "x");
    if (whole)
        _wrap_free_dbg(whole, __FILE__, __LINE__);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    corepack_check(data, (uint32_t)size, 0, (uint32_t)size, 1);

    FILE *f = fopen(g_path, "wb");
    if (!f)
        return 0;
    if (size)
        fwrite(data, 1, size, f);
    fclose(f);

    uint32_t before = g_mem_in_use;
    for (int request = 0; request <= 1; request++) {
        if (corefile_mountimage(g_path, request))
            read_everything();
        corefile_closeimage();
        if (g_mem_in_use != before)
            abort();  // the layer lost track of (or leaked) memory
    }
    unlink(g_path);
    return 0;
}
