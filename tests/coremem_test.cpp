// Accounted heap wrappers, copy/fill routines and the fatal reports.
#include "corefile/coredebug.h"
#include "corefile/coremem.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "testutil_os.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Runs first in this program: nothing has been allocated through the wrappers yet.
TEST(CoreMem, ShowUsageBeforeAnyAllocationIsZero)
{
    CaptureStdout();
    wrap_showusage();
    EXPECT_EQ(GetCapturedStdout(), "memory usage: 0 (peak: 0)\n");
}

TEST(CoreMem, AccountedAllocCountsUsableSizeAndFreeRestoresIt)
{
    uint32_t before = g_mem_in_use;
    void *a = _wrap_malloc_dbg(100, "here.cpp", 1);
    ASSERT_NE(a, nullptr);
    uint32_t usable = (uint32_t)tu_usable_size(a);
    EXPECT_GE(usable, 100u);
    EXPECT_EQ(g_mem_in_use, before + usable);
    void *b = _wrap_malloc_iwram_dbg(5000, "here.cpp", 2);  // same counters
    ASSERT_NE(b, nullptr);
    uint32_t peak = g_mem_in_use;
    EXPECT_EQ(g_mem_in_use_peak, peak);
    _wrap_free_dbg(b, "here.cpp", 3);
    EXPECT_EQ(g_mem_in_use, before + usable);
    _wrap_free_iwram_dbg(a, "here.cpp", 4);
    EXPECT_EQ(g_mem_in_use, before);
    EXPECT_EQ(g_mem_in_use_peak, peak);  // the peak is never lowered

    // A smaller allocation afterwards leaves the peak alone.
    void *c = _wrap_malloc_dbg(10, "here.cpp", 5);
    EXPECT_EQ(g_mem_in_use_peak, peak);
    _wrap_free_dbg(c, "here.cpp", 6);

    CaptureStdout();
    wrap_showusage();
    EXPECT_EQ(GetCapturedStdout(), "memory usage: " + std::to_string((int)before) +
                                       " (peak: " + std::to_string((int)peak) + ")\n");
}

TEST(CoreMem, PlainAllocatorsAreNotCounted)
{
    uint32_t before = g_mem_in_use, peak = g_mem_in_use_peak;
    void *a = _wrap_malloc(1000);
    void *b = _wrap_malloc_iwram(1000);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(g_mem_in_use, before);
    _wrap_free(a);
    _wrap_free_iwram(b);
    EXPECT_EQ(g_mem_in_use, before);
    EXPECT_EQ(g_mem_in_use_peak, peak);
}

TEST(CoreMem, FailuresAreReportedAndCountNothing)
{
    uint32_t before = g_mem_in_use;
    CaptureStdout();
    _wrap_free_dbg(nullptr, "x.cpp", 12);
    void *p = _wrap_malloc_dbg(-1, "y.cpp", 34);  // a negative size can never be allocated
    std::string out = GetCapturedStdout();
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(out, "x.cpp(12): wrap_free() tried to free a NULL pointer!\n"
                   "y.cpp(34): wrap_malloc(-1) failed!\n");
    EXPECT_EQ(g_mem_in_use, before);
    EXPECT_EQ(_wrap_malloc(-5), nullptr);
}

TEST(CoreMem, CopiesMoveExactlyTheirLength)
{
    unsigned char src[32], dst[32];
    for (int i = 0; i < 32; i++)
        src[i] = (unsigned char)(i + 1);
    struct { int kind, n, bytes; } cases[] = {
        {16, 3, 6}, {32, 3, 12}, {8, 7, 7}, {8, 1, 1}, {8, 4, 4}, {8, 0, 0}, {8, -3, 0}, {32, 0, 0}};
    for (auto c : cases) {
        memset(dst, 0xCC, sizeof(dst));
        // Odd addresses: the routines must not rely on alignment.
        if (c.kind == 16)
            wrap_memcpy16(dst + 1, src + 3, c.n);
        else if (c.kind == 32)
            wrap_memcpy32(dst + 1, src + 3, c.n);
        else
            wrap_memcpy(dst + 1, src + 3, c.n);
        SCOPED_TRACE("kind " + std::to_string(c.kind) + " n " + std::to_string(c.n));
        EXPECT_EQ(dst[0], 0xCC);
        for (int i = 0; i < c.bytes; i++)
            EXPECT_EQ(dst[1 + i], src[3 + i]);
        for (int i = 1 + c.bytes; i < 32; i++)
            EXPECT_EQ(dst[i], 0xCC) << "byte " << i;
    }
}

TEST(CoreMem, FillsUseTheLowByteOnly)
{
    unsigned char buf[16];
    memset(buf, 0x11, sizeof(buf));
    wrap_memset(buf + 1, 0x41, 6);
    EXPECT_EQ(buf[0], 0x11);
    for (int i = 1; i <= 6; i++)
        EXPECT_EQ(buf[i], 0x41);
    EXPECT_EQ(buf[7], 0x11);

    memset(buf, 0x11, sizeof(buf));
    wrap_memset(buf, 0x1234, 9);  // low byte 0x34
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(buf[i], 0x34);
    EXPECT_EQ(buf[9], 0x11);

    memset(buf, 0x11, sizeof(buf));
    wrap_memclr(buf + 2, 11);
    wrap_memset(buf + 14, 0x55, 0);
    wrap_memclr(buf + 14, -4);
    EXPECT_EQ(buf[1], 0x11);
    for (int i = 2; i < 13; i++)
        EXPECT_EQ(buf[i], 0);
    EXPECT_EQ(buf[13], 0x11);
    EXPECT_EQ(buf[14], 0x11);
}

// The fatal reports go to stdout; the child sends stdout to stderr so the death test
// can see the message.
TEST(CoreDebugDeathTest, AssertAndErrorEndWithStatusOneAfterTheirMessage)
{
    EXPECT_EXIT((dup2(2, 1), _dbg_assert("file.cpp", 42, "x > 0")), testing::ExitedWithCode(1),
                "file.cpp\\(42\\): assertion failed: x > 0");
    EXPECT_EXIT((dup2(2, 1), error("disk on fire")), testing::ExitedWithCode(1),
                "Error: disk on fire");
}

TEST(CoreDebug, PrintfFormatsLikeVprintf)
{
    _dbg_init();
    CaptureStdout();
    int n = _dbg_printf("%s=%d %04x\n", "v", -7, 0xab);
    EXPECT_EQ(GetCapturedStdout(), "v=-7 00ab\n");
    EXPECT_EQ(n, 10);
    _dbg_shutdown();
}
