// Video set-up and GL state: what ORB_InitVideo leaves, the render-state tracker,
// the bind cache, projections, the framebuffer and shader tables.
#include <GL/glew.h>
#include <gtest/gtest.h>
#include <math.h>

#include "engine/bitmap.h"
#include "engine/orb.h"
#include "engine/video.h"
#include "platform/platform.h"
#include "tests/testutil_gl.h"
#include "tests/testutil_os.h"

namespace {

class VideoState : public ::testing::Test {
protected:
    void SetUp() override
    {
        TU_NEED(testgl_open(1280, 720), "no display or GL context (run under Xvfb)");
    }
};

TEST_F(VideoState, InitVideoLeavesWindowOutputAndDefaults)
{
    int w = 0, h = 0;
    plat_window_size(&w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    EXPECT_EQ(ORB_video.width, 1280);
    EXPECT_EQ(ORB_video.height, 720);
    EXPECT_EQ(ORB_video.pitch, 1280);
    EXPECT_EQ(ORB_video.bitsperpixel, 32);
    EXPECT_EQ(ORB_video.redmask, 0x00FF0000);
    EXPECT_EQ(ORB_video.redshift, 16);
    EXPECT_EQ(ORB_vsync_enabled, 0);   // flags 0: no vertical sync
    EXPECT_EQ(ORB_framebuffers[0].width, 1280);
    EXPECT_EQ(ORB_framebuffers[0].height, 720);
    EXPECT_EQ(ORB_framebuffers_enabled, 1);
    EXPECT_EQ(ORB_postshader_id, 0);
    EXPECT_EQ(ORB_video_updatespeed, 15);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));

    // Scan-line overlay: row 0 transparent, row 1 opaque black, registered nowhere.
    EXPECT_EQ(ORB_scanlinebitmap.width, 1280);
    EXPECT_EQ(ORB_scanlinebitmap.height, 720);
    for (int x = 0; x < 1280; x += 97) {
        EXPECT_EQ(ORB_GetPixel(x, 0, ORB_scanlinebitmap), 0u);
        EXPECT_EQ(ORB_GetPixel(x, 1, ORB_scanlinebitmap), 0xFF000000u);
        EXPECT_EQ(ORB_GetPixel(x, 719, ORB_scanlinebitmap), 0xFF000000u);
    }
    for (int i = 0; i < orb_numbitmaps; i++) EXPECT_NE(orb_bitmaplist[i], &ORB_scanlinebitmap);
    EXPECT_NE(ORB_scanlinebitmap.texture, 0u);
}

TEST_F(VideoState, RenderStateTrackerQuirks)
{
    ORB_DisableRenderState(0xFF);
    ASSERT_EQ(ORB_renderstate, 0);

    // Enabling 0x5 while depth is on does nothing at all: blending stays off.
    ORB_EnableRenderState(0x1);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    int switches = ORB_stats_numstateswitches;
    ORB_EnableRenderState(0x5);
    EXPECT_EQ(ORB_renderstate, 0x1);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(ORB_stats_numstateswitches, switches);

    // Disabling 0x5 with only depth on switches both off, even blending that GL had
    // on behind the tracker's back.
    glEnable(GL_BLEND);
    ORB_DisableRenderState(0x5);
    EXPECT_EQ(ORB_renderstate, 0);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(ORB_stats_numstateswitches, switches + 1);

    // Disabling bits that are not believed on does nothing.
    glEnable(GL_ALPHA_TEST);
    ORB_DisableRenderState(0x2);
    EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
    glDisable(GL_ALPHA_TEST);

    // All four at once, and a bit above 0x8 is only recorded.
    ORB_EnableRenderState(0xF);
    EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST) && glIsEnabled(GL_DEPTH_TEST) && glIsEnabled(GL_BLEND) &&
                glIsEnabled(GL_LIGHTING));
    ORB_DisableRenderState(0xF);
    ORB_EnableRenderState(0x10);
    EXPECT_EQ(ORB_renderstate, 0x10);
    ORB_DisableRenderState(0x10);
    EXPECT_EQ(ORB_renderstate, 0);

    // ORB_Enable2D turns depth test off without telling the tracker.
    ORB_EnableRenderState(0x1);
    ORB_Enable2D();
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(ORB_renderstate, 0x1);
    ORB_DisableRenderState(0x1);
}

TEST_F(VideoState, BindCacheCountsAndResetsAfterPresent)
{
    s_bitmap a, b;
    ORB_CreateBitmap(8, 8, &a);
    ORB_CreateBitmap(8, 8, &b);
    ORB_ClearBitmap(a);
    ORB_ClearBitmap(b);
    ORB_SwapBuffers();
    EXPECT_EQ(ORB_lasttextureid, 0xFFFFFFFFu);
    int t = -1, n = -1, s = -1;
    ORB_GetRenderStatus(&t, &n, &s);
    EXPECT_EQ(t + n + s, 0);

    ORB_BindTexture(a.texture);
    ORB_BindTexture(a.texture);
    EXPECT_EQ(ORB_stats_numtexturebinds, 1);
    ORB_BindTexture(b.texture);
    EXPECT_EQ(ORB_stats_numtexturebinds, 2);

    // Texture creation and update bind behind the cache and leave it as it was.
    s_bitmap c;
    ORB_CreateBitmap(4, 4, &c);
    ORB_UpdateBitmap(a);
    EXPECT_EQ(ORB_lasttextureid, b.texture);

    // After a present the first bind of the frame reaches GL again.
    ORB_SwapBuffers();
    ORB_BindTexture(b.texture);
    EXPECT_EQ(ORB_stats_numtexturebinds, 1);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ((uint32_t)bound, b.texture);
    ORB_DeleteBitmap(&a);
    ORB_DeleteBitmap(&b);
    ORB_DeleteBitmap(&c);
}

TEST_F(VideoState, ProjectionsFollowTheFramebuffer)
{
    int fb = ORB_InitFramebuffer(480, 270);
    ORB_SetFramebuffer(fb);
    EXPECT_EQ(ORB_projectionmode, 1);
    GLfloat m[16];

    // 2D: pixels with (0, 0) at the top left.
    ORB_Enable2D();
    EXPECT_EQ(ORB_projectionmode, 0);
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_FLOAT_EQ(m[0], 2.0f / 480);
    EXPECT_FLOAT_EQ(m[5], -2.0f / 270);
    EXPECT_FLOAT_EQ(m[12], -1.0f);
    EXPECT_FLOAT_EQ(m[13], 1.0f);

    // Back to perspective with the framebuffer's aspect 480/270.
    ORB_Disable2D();
    EXPECT_EQ(ORB_projectionmode, 1);
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    double f = 1.0 / tan(45.0 * 3.141592653589793 / 360.0);
    EXPECT_NEAR(m[0], f / (480.0 / 270.0), 1e-5);
    EXPECT_NEAR(m[5], f, 1e-5);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    // A second Disable2D changes nothing.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    ORB_Disable2D();
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_FLOAT_EQ(m[0], 1.0f);
}

// The look-at camera puts the centre straight ahead at the eye's distance.
TEST_F(VideoState, LookAtPutsCentreAhead)
{
    const float eyes[][3] = { { 0, 0, 5 }, { 3, 0, 4 }, { 0, 3, 4 }, { 0, 3, -4 }, { -2, 1, -3 },
                              { 0, 5, 0 }, { 0, -5, 0 }, { 4, 0, 0 }, { 1, 2, 0 } };
    for (auto &e : eyes) {
        float cx = 1, cy = -1, cz = 2;
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        ORB_LookAt(e[0] + cx, e[1] + cy, e[2] + cz, cx, cy, cz);
        GLfloat m[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, m);
        float x = m[0] * cx + m[4] * cy + m[8] * cz + m[12];
        float y = m[1] * cx + m[5] * cy + m[9] * cz + m[13];
        float z = m[2] * cx + m[6] * cy + m[10] * cz + m[14];
        float d = sqrtf(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
        EXPECT_NEAR(x, 0, 1e-4) << e[0] << "," << e[1] << "," << e[2];
        EXPECT_NEAR(y, 0, 1e-4) << e[0] << "," << e[1] << "," << e[2];
        EXPECT_NEAR(z, -d, 1e-4) << e[0] << "," << e[1] << "," << e[2];
    }
    // Eye on the centre: nothing happens.
    glLoadIdentity();
    ORB_LookAt(1, 2, 3, 1, 2, 3);
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[12], 0.0f);
    EXPECT_EQ(m[0], 1.0f);
}

TEST_F(VideoState, ShaderTableIndices)
{
    ASSERT_EQ(ORB_shaders_enabled, 1);
    int first = ORB_InitShader(testgl_post_vertex, testgl_post_fragment);
    EXPECT_EQ(first, ORB_numshaders - 1);
    EXPECT_NE(ORB_shader[first].program, 0u);
    GLint linked = 0;
    glGetProgramiv(ORB_shader[first].program, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, 1);

    // A missing text gives -1 and does not use up the index.
    testing::internal::CaptureStdout();
    EXPECT_EQ(ORB_InitShader(testgl_post_vertex, nullptr), -1);
    EXPECT_EQ(ORB_InitShader(nullptr, testgl_post_fragment), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Either vertex shader or fragment shader file not found."
              "Either vertex shader or fragment shader file not found.");
    EXPECT_EQ(ORB_InitShader(testgl_post_vertex, testgl_post_fragment), first + 1);

    // A compile error is reported and the index still handed out.
    testing::internal::CaptureStdout();
    int broken = ORB_InitShader(testgl_post_vertex, "#version 120\nvoid main() { nonsense; }");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(broken, first + 2);
    EXPECT_NE(out.find(",fragmentshader,compiler error: "), std::string::npos) << out;

    // Without GLSL indices are handed out and nothing is compiled.
    ORB_shaders_enabled = 0;
    int a = ORB_InitShader(testgl_post_vertex, testgl_post_fragment);
    int b = ORB_InitShader(nullptr, nullptr);
    ORB_shaders_enabled = 1;
    EXPECT_EQ(a, first + 3);
    EXPECT_EQ(b, first + 4);
    EXPECT_EQ(ORB_shader[a].program, 0u);

    // Uniforms go to the shader's program; an unknown name is ignored.
    ORB_SetShaderValue(first, "fadevalue", 0.25f);
    ORB_SetShaderValue(first, "nosuchname", 1.0f);
    GLfloat v = 0;
    glGetUniformfv(ORB_shader[first].program, glGetUniformLocation(ORB_shader[first].program, "fadevalue"), &v);
    EXPECT_EQ(v, 0.25f);
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ((uint32_t)current, ORB_shader[first].program);
    ORB_UnbindShader();
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);

    // Deleting keeps the index; the table never hands it out again.
    int n = ORB_numshaders;
    ORB_DeleteShader(broken);
    EXPECT_FALSE(glIsProgram(ORB_shader[broken].program));
    EXPECT_EQ(ORB_numshaders, n);
    // Indices outside the table are ignored instead of read past it.
    ORB_BindShader(-1);
    ORB_BindShader(ORB_MAXSHADERS);
    ORB_SetShaderValue(ORB_MAXSHADERS + 5, "fadevalue", 1.0f);
}

TEST_F(VideoState, FramebufferTableHandsOutIndicesUntilFull)
{
    int first = ORB_InitFramebuffer(32, 16);
    EXPECT_EQ(first, ORB_numframebuffers - 1);
    EXPECT_EQ(ORB_framebuffers[first].index, first);
    EXPECT_EQ(ORB_framebuffers_enabled, 1);
    GLint bound = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
    EXPECT_EQ(bound, 0);   // creation leaves the window bound

    ORB_SetFramebuffer(first);
    EXPECT_EQ(ORB_FrameBuffer, &ORB_framebuffers[first]);
    GLint vp[4];
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(vp[2], 32);
    EXPECT_EQ(vp[3], 16);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &bound);
    EXPECT_EQ((uint32_t)bound, ORB_framebufferdata[first].fbo);

    // An index never created is refused and the current framebuffer stays.
    testing::internal::CaptureStdout();
    ORB_SetFramebuffer(ORB_numframebuffers);
    ORB_SetFramebuffer(-1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ORB_SetFramebuffer: no framebuffer " + std::to_string(ORB_numframebuffers) +
                  "\nORB_SetFramebuffer: no framebuffer -1\n");
    EXPECT_EQ(ORB_FrameBuffer, &ORB_framebuffers[first]);

    while (ORB_numframebuffers < ORB_MAXFRAMEBUFFERS) ORB_InitFramebuffer(8, 8);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ORB_InitFramebuffer(8, 8), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ORB_InitFramebuffer: table full (16)\n");
    EXPECT_EQ(ORB_numframebuffers, ORB_MAXFRAMEBUFFERS);
}

} // namespace
