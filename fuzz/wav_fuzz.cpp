// WAV loading over arbitrary bytes: the file is written into a mounted temporary
// directory and loaded through the file layer, as the program loads its music.
// Whatever the bytes, the loader must read only inside the file and, when it
// accepts one, describe exactly the data it copied.
#include "corefile/corefile.h"
#include "sound/coresound.h"
#include "sound/loadwav.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>

static std::string g_file;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char tmpl[] = "/tmp/wav_fuzz_XXXXXX";
    if (!mkdtemp(tmpl)) abort();
    g_file = std::string(tmpl) + "/f.wav";
    if (!corefile_mountimage(tmpl, 2)) abort();
    soundsystem.frequency = 44100;
    if (!freopen("/dev/null", "w", stdout)) abort();  // the loader's messages are not wanted
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fopen(g_file.c_str(), "wb");
    if (!f) abort();
    if (size && fwrite(data, 1, size, f) != size) abort();
    fclose(f);
    s_sound s;
    memset(&s, 0, sizeof(s));
    if (Soundsystem_LoadWAV("f.wav", &s)) {
        if (s.bits != 8 && s.bits != 16) abort();
        if (s.channels != 1 && s.channels != 2) abort();
        if (s.size < 0 || (size_t)s.size + 44 > size) abort();
        if (s.numsamples != (int32_t)((uint32_t)s.size / (s.bits / 8u))) abort();
        if (s.size && memcmp(s.data, data + 44, (size_t)s.size) != 0) abort();
    } else if (s.data) {
        abort();
    }
    free(s.data);
    return 0;
}
