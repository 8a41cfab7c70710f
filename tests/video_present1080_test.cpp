// The present at 1920x1080, read back from the window: fade, sharp scale-up,
// orientation, scan lines, and the two fall-backs.
#include "tests/video_present_checks.h"
#include "tests/testutil_os.h"

#define OPEN_OR_SKIP()                                                  \
    present::Setup *s = present::open(1920, 1080);                       \
    TU_NEED(s, "no display or GL context (run under Xvfb)");             \
    if (!ORB_shaders_enabled) GTEST_SKIP() << "driver without GLSL";

TEST(VideoPresent1080, FadeZeroIsBlack) { OPEN_OR_SKIP(); present::check_fade_zero_is_black(s); }
TEST(VideoPresent1080, FullFadeScalesSharpTopRowOnTop) { OPEN_OR_SKIP(); present::check_full_fade_scales_sharp(s); }
TEST(VideoPresent1080, ScanlinesDarkenEveryOtherOf540Bands) { OPEN_OR_SKIP(); present::check_scanlines_black_bands(s); }
TEST(VideoPresent1080, FallbacksMatchShader)
{
    OPEN_OR_SKIP();
    present::check_fallbacks_match(s, 1.0f);
    present::check_fallbacks_match(s, 0.5f);
}
