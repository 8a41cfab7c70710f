// Mixer cost per 2048-frame block (46.4 ms of audio at 44100 Hz), 16-bit stereo output,
// with 1 and with 16 playing voices. No device is opened: the mixer is called directly.
// The cost as a fraction of the block is the time per iteration over 46.44 ms.
#include "sound/audiodriver.h"
#include "sound/coresound.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

static void BM_MixBlock(benchmark::State &state)
{
    const int voices = (int)state.range(0);
    const int stereo = (int)state.range(1);  // 1: two-channel sources, 0: mono sources
    setenv("SDL_AUDIODRIVER", "none", 1);
    // The start-up lines would interleave with the benchmark's table.
    fflush(stdout);
    int saved = dup(1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    Soundsystem_Init(44100, 16, 2);
    fflush(stdout);
    dup2(saved, 1);
    close(devnull);
    close(saved);
    std::vector<s_sound> snd((size_t)voices);
    for (int v = 0; v < voices; v++) {
        s_sound *s = &snd[(size_t)v];
        int channels = stereo ? 2 : 1;
        // Mixed rates and lengths, all looping: every voice plays through every block.
        Soundsystem_CreateSoundStream(s, nullptr, v & 1 ? 44100 : 22050, 16, channels, 44100);
        int16_t *d = (int16_t *)s->data;
        for (int i = 0; i < s->numsamples; i++) d[i] = (int16_t)((i * (v + 3) * 37) % 60000 - 30000);
        s->loop = 1;
        Soundsystem_SetPanning(s, v * 16);
        Soundsystem_PlaySound(s, 1);
    }
    std::vector<int16_t> out(2048 * 2);
    for (auto _ : state) {
        audiodriver_mixbuffers(out.data(), 8192, 0);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 2048);
    for (s_sound &s : snd) Soundsystem_DeleteSound(&s);
    Soundsystem_CloseAudio();
}
BENCHMARK(BM_MixBlock)->ArgNames({"voices", "stereo"})->Args({1, 0})->Args({16, 0})->Args({1, 1})->Args({16, 1});
