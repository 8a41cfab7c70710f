// held.cpp - mirador-dev's pictures held back until their sound is heard (held.h).
#include "tools/dev/held.h"

#include <GL/glew.h>

#include "engine/video.h"

typedef struct {
    uint32_t tex;          // the frame's copy; 0 until first used
    int32_t w, h;          // the texture's size
    int fb;                // the framebuffer it was copied from, whose present it gets
    float fade, scanlines; // the present's fade and scan lines for that frame
    int postshader;
    held_frame f;
    double due;            // wall ms
} held_slot;

static struct {
    int open;
    held_slot slot[HELD_SLOTS];
    int head, count;       // the oldest held slot and how many are held
} H;

static held_slot *at(int i) { return &H.slot[(H.head + i) % HELD_SLOTS]; }

int held_open(void)
{
    H.head = H.count = 0;
    H.open = orb_glready && ORB_framebuffers_enabled;
    return H.open;
}

// After a copy or a held present the GL state is what the show's own present leaves:
// the show's framebuffer bound at its size, no texture taken as bound.
static void show_state_back(s_framebuffer *f)
{
    ORB_SetFramebuffer(f->index);
    ORB_lasttextureid = 0xFFFFFFFFu;
    ORB_stats_numtriangles = 0;
    ORB_stats_numtexturebinds = 0;
    ORB_stats_numstateswitches = 0;
}

int held_put(uint64_t frame, int scene, double period_pos, double due_ms)
{
    s_framebuffer *f = ORB_FrameBuffer;
    if (!H.open || !f) return 0;
    if (H.count == HELD_SLOTS) {   // full: the oldest gives way
        H.head = (H.head + 1) % HELD_SLOTS;
        H.count--;
    }
    held_slot *s = at(H.count);
    // The framebuffer's own binding makes it the source of the copy.
    ORB_SetFramebuffer(f->index);
    if (!s->tex) glGenTextures(1, &s->tex);
    glBindTexture(GL_TEXTURE_2D, s->tex);
    if (s->w != f->width || s->h != f->height) {
        // As the framebuffer's own colour texture: the scale-up samples it the same way.
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, f->width, f->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        s->w = f->width;
        s->h = f->height;
    }
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, f->width, f->height);
    s->fb = f->index;
    s->fade = ORB_fadevalue;
    s->scanlines = ORB_scanlinevalue;
    s->postshader = ORB_postshader_id;
    s->f.frame = frame;
    s->f.scene = scene;
    s->f.period_pos = period_pos;
    s->due = due_ms;
    H.count++;
    show_state_back(f);
    return 1;
}

int held_next(double now_ms, int every, held_frame *out, uint64_t *dropped)
{
    if (H.count == 0 || at(0)->due > now_ms) return 0;
    int take = 0;
    if (!every)
        for (int i = 1; i < H.count; i++)
            if (at(i)->due <= now_ms) take = i;
    H.head = (H.head + take) % HELD_SLOTS;
    H.count -= take;
    *dropped += (uint64_t)take;
    *out = at(0)->f;
    return 1;
}

void held_present(void)
{
    if (H.count == 0) return;
    held_slot *s = at(0);
    s_framebuffer *cur = ORB_FrameBuffer;
    s_framebufferdata *d = &ORB_framebufferdata[s->fb];
    const uint32_t own = d->colortexture;
    const float fade = ORB_fadevalue, scanlines = ORB_scanlinevalue;
    const int post = ORB_postshader_id;
    // The show's present, with the slot in place of the framebuffer's picture.
    ORB_FrameBuffer = &ORB_framebuffers[s->fb];
    d->colortexture = s->tex;
    ORB_fadevalue = s->fade;
    ORB_scanlinevalue = s->scanlines;
    ORB_postshader_id = s->postshader;
    ORB_SwapBuffers();
    d->colortexture = own;
    ORB_fadevalue = fade;
    ORB_scanlinevalue = scanlines;
    ORB_postshader_id = post;
    ORB_FrameBuffer = cur;
    if (cur) show_state_back(cur);
    H.head = (H.head + 1) % HELD_SLOTS;
    H.count--;
}

double held_due(void)
{
    return H.count ? at(0)->due : 0;
}

int held_count(void) { return H.count; }

void held_close(void)
{
    for (int i = 0; i < HELD_SLOTS; i++) {
        if (H.slot[i].tex && orb_glready) glDeleteTextures(1, &H.slot[i].tex);
        H.slot[i] = held_slot();
    }
    H.open = H.head = H.count = 0;
}
