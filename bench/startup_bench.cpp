// Start-up's loading work without a window: mounting the generated resource image,
// then every picture of the show decoded into its bitmap or sprite in table order,
// and the music. (With a GL context the same calls also upload the textures.)
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <unistd.h>

#include "corefile/corefile.h"
#include "demo/main.h"
#include "demo/startup.h"
#include "engine/orb.h"
#include "sound/coresound.h"

static const char *image = BUILD_DIR "/mirador.dat";

// The loaders print a few lines per file: while a benchmark runs, standard output
// goes to /dev/null; the results are printed after it, to the real output again.
struct Quiet {
    int saved;
    Quiet()
    {
        fflush(stdout);
        saved = dup(1);
        FILE *null = fopen("/dev/null", "w");
        if (null) {
            dup2(fileno(null), 1);
            fclose(null);
        }
    }
    ~Quiet()
    {
        fflush(stdout);
        if (saved >= 0) {
            dup2(saved, 1);
            close(saved);
        }
    }
};

static void BM_Mount(benchmark::State &state)
{
    Quiet quiet;
    for (auto _ : state) {
        if (!corefile_mountimage(image, 0)) state.SkipWithError("no mirador.dat next to the programs");
        corefile_closeimage();
    }
}
BENCHMARK(BM_Mount)->Unit(benchmark::kMicrosecond);

static void BM_LoadEveryPicture(benchmark::State &state)
{
    Quiet quiet;
    if (!corefile_mountimage(image, 0)) state.SkipWithError("no mirador.dat next to the programs");
    for (auto _ : state) {
        load_assets();
        state.PauseTiming();
        ORB_FlushGraphics(); // frees the buffers and empties the registries again
        state.ResumeTiming();
    }
    corefile_closeimage();
}
BENCHMARK(BM_LoadEveryPicture)->Unit(benchmark::kMillisecond);

static void BM_LoadMusic(benchmark::State &state)
{
    Quiet quiet;
    if (!corefile_mountimage(image, 0)) state.SkipWithError("no mirador.dat next to the programs");
    for (auto _ : state) {
        s_sound music;
        Soundsystem_LoadSound("mirador4.wav", &music);
        benchmark::DoNotOptimize(music.data);
        Soundsystem_DeleteSound(&music);
    }
    corefile_closeimage();
}
BENCHMARK(BM_LoadMusic)->Unit(benchmark::kMillisecond);
