// corepack - packs, lists, extracts, checks and appends CORE resource images.
#include "corefile/corepack.h"

#include <stdio.h>
#include <string.h>

static int usage(void)
{
    fprintf(stderr,
            "usage: corepack pack <dir> <image>     pack every file below dir\n"
            "       corepack list <image>           print name, offset and size of each file\n"
            "       corepack extract <image> <dir>  write every file below dir\n"
            "       corepack verify <image>         check an image (or a file with one appended)\n"
            "       corepack append <image> <file>  append image to file, with its start position\n"
            "                                       in a 4-byte little-endian trailer\n");
    return 2;
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const char *cmd = argv[1];
    int ok;
    if (strcmp(cmd, "pack") == 0 && argc == 4)
        ok = corepack_pack(argv[2], argv[3]);
    else if (strcmp(cmd, "list") == 0 && argc == 3)
        ok = corepack_list(argv[2]);
    else if (strcmp(cmd, "extract") == 0 && argc == 4)
        ok = corepack_extract(argv[2], argv[3]);
    else if (strcmp(cmd, "verify") == 0 && argc == 3) {
        ok = corepack_verify(argv[2]);
        if (ok)
            printf("%s: ok\n", argv[2]);
    } else if (strcmp(cmd, "append") == 0 && argc == 4)
        ok = corepack_append(argv[2], argv[3]);
    else
        return usage();
    fflush(stdout);
    if (!ok)
        fprintf(stderr, "corepack %s failed\n", cmd);
    return ok ? 0 : 1;
}
