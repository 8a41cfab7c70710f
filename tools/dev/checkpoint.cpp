// checkpoint.cpp - saving and restoring a point of the show.
#include "tools/dev/checkpoint.h"

#include <GL/glew.h>
#include <string.h>

#include <type_traits>

#include "demo/main.h"
#include "demo/rand.h"
#include "demo/state.h"
#include "engine/video.h"

// Every listed global is copied as its bytes: each must be plain data.
#define DEV_PLAIN(v) static_assert(std::is_trivially_copyable<decltype(v)>::value, #v " is not plain data");
SHOW_STATE(DEV_PLAIN)
#undef DEV_PLAIN

// The bytes of the whole list.
static size_t state_size(void)
{
    size_t n = 0;
#define DEV_SIZE(v) n += sizeof v;
    SHOW_STATE(DEV_SIZE)
#undef DEV_SIZE
    return n;
}

// The sequence's framebuffer: the draw target start-up made current.
static const s_framebufferdata *show_fb(void)
{
    return ORB_FrameBuffer ? &ORB_framebufferdata[ORB_FrameBuffer->index] : nullptr;
}

static size_t fb_bytes(void)
{
    return show_fb() && orb_glready ? (size_t)ORB_FrameBuffer->width * ORB_FrameBuffer->height * 4 : 0;
}

static size_t bg_pixels(void)
{
    return bmp_bg.pixels ? (size_t)bmp_bg.width * bmp_bg.height : 0;
}

void dev_checkpoint_save(dev_checkpoint *cp, uint64_t frame)
{
    cp->frame = frame;
    cp->vars.resize(state_size());
    uint8_t *p = cp->vars.data();
#define DEV_SAVE(v) memcpy(p, (const void *)&(v), sizeof v), p += sizeof v;
    SHOW_STATE(DEV_SAVE)
#undef DEV_SAVE
    cp->rand = orb_rand_getstate();
    cp->renderstate = ORB_renderstate;
    glGetIntegerv(GL_BLEND_SRC, &cp->blend_src);
    glGetIntegerv(GL_BLEND_DST, &cp->blend_dst);

    cp->bg.assign(bmp_bg.pixels, bmp_bg.pixels + bg_pixels());
    cp->fb.resize(fb_bytes());
    if (!cp->fb.empty()) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, ORB_FrameBuffer->width, ORB_FrameBuffer->height, GL_RGBA, GL_UNSIGNED_BYTE,
                     cp->fb.data());
    }

    soundsystem_lock();
    cp->music_position = gamemusic.position;
    cp->music_playing = gamemusic.playing;
    cp->numactive = soundsystem.numactive;
    for (int i = 0; i < SOUND_MAXACTIVE; i++) {
        s_sound *s = active_sounds[i];
        cp->active[i] = !s ? 0 : s == &gamemusic ? 1 : 2;
        cp->other[i] = cp->active[i] == 2 ? s : nullptr;
    }
    soundsystem_unlock();
    cp->valid = 1;
}

void dev_checkpoint_restore(const dev_checkpoint *cp)
{
    if (!cp->valid || cp->vars.size() != state_size()) return;
    // What start-up set for this process stays as it is.
    std::vector<uint8_t> kept;
#define DEV_KEEP_SAVE(v) kept.insert(kept.end(), (const uint8_t *)&(v), (const uint8_t *)&(v) + sizeof(v));
    SHOW_STATE_KEPT(DEV_KEEP_SAVE)
#undef DEV_KEEP_SAVE

    const uint8_t *p = cp->vars.data();
#define DEV_RESTORE(v) memcpy((void *)&(v), p, sizeof v), p += sizeof v;
    SHOW_STATE(DEV_RESTORE)
#undef DEV_RESTORE
    const uint8_t *k = kept.data();
#define DEV_KEEP_PUT(v) memcpy((void *)&(v), k, sizeof(v)), k += sizeof(v);
    SHOW_STATE_KEPT(DEV_KEEP_PUT)
#undef DEV_KEEP_PUT
    orb_rand_setstate(cp->rand);

    // The mask decides which enables take effect (a call returns when any bit of its
    // mask is already on), so GL is brought to exactly the saved states.
    static const int bits[4] = { 0x1, 0x2, 0x4, 0x8 };
    for (int b : bits) {
        ORB_DisableRenderState(b);
        if (cp->renderstate & b) ORB_EnableRenderState(b);
    }
    glBlendFunc((GLenum)cp->blend_src, (GLenum)cp->blend_dst);

    if (bmp_bg.pixels && cp->bg.size() == bg_pixels()) {
        memcpy(bmp_bg.pixels, cp->bg.data(), cp->bg.size() * 4);
        ORB_UpdateBitmap(bmp_bg);
    }
    const s_framebufferdata *d = show_fb();
    if (d && !cp->fb.empty() && cp->fb.size() == fb_bytes()) {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glBindTexture(GL_TEXTURE_2D, d->colortexture);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, ORB_FrameBuffer->width, ORB_FrameBuffer->height, GL_RGBA,
                        GL_UNSIGNED_BYTE, cp->fb.data());
    }
    ORB_lasttextureid = 0xFFFFFFFFu;  // the bind cache no longer says what is bound

    // The music keeps its data (it may have been loaded again since): only where it
    // plays and whether it is playing go back.
    soundsystem_lock();
    gamemusic.position = cp->music_position;
    gamemusic.playing = cp->music_playing;
    for (int i = 0; i < SOUND_MAXACTIVE; i++)
        active_sounds[i] = cp->active[i] == 1 ? &gamemusic : cp->active[i] == 2 ? cp->other[i] : nullptr;
    soundsystem.numactive = cp->numactive;
    soundsystem_unlock();
}

size_t dev_checkpoint_bytes(const dev_checkpoint *cp)
{
    return sizeof *cp + cp->vars.capacity() + cp->bg.capacity() * sizeof(uint32_t) + cp->fb.capacity();
}

// ---- As bytes ------------------------------------------------------------------------------
// "MIRCKPT1", then the fields in this order, each at its own width in this machine's
// byte order (the file is only ever read by the build that wrote it).
static const char MAGIC[8] = { 'M', 'I', 'R', 'C', 'K', 'P', 'T', '1' };

template <class T> static void put(std::vector<uint8_t> *o, const T &v)
{
    o->insert(o->end(), (const uint8_t *)&v, (const uint8_t *)&v + sizeof v);
}

int dev_checkpoint_write(const dev_checkpoint *cp, std::vector<uint8_t> *out)
{
    if (!cp->valid) return 0;
    for (int i = 0; i < SOUND_MAXACTIVE; i++)
        if (cp->active[i] > 1) return 0;
    std::vector<uint8_t> o;
    o.insert(o.end(), MAGIC, MAGIC + 8);
    put(&o, cp->frame);
    put(&o, (uint64_t)cp->vars.size());
    o.insert(o.end(), cp->vars.begin(), cp->vars.end());
    put(&o, cp->rand);
    put(&o, cp->renderstate);
    put(&o, cp->blend_src);
    put(&o, cp->blend_dst);
    put(&o, (uint64_t)cp->bg.size());
    o.insert(o.end(), (const uint8_t *)cp->bg.data(), (const uint8_t *)cp->bg.data() + cp->bg.size() * 4);
    put(&o, (uint64_t)cp->fb.size());
    o.insert(o.end(), cp->fb.begin(), cp->fb.end());
    put(&o, cp->music_position);
    put(&o, cp->music_playing);
    put(&o, cp->numactive);
    o.insert(o.end(), cp->active, cp->active + SOUND_MAXACTIVE);
    out->swap(o);
    return 1;
}

namespace {
struct reader {
    const uint8_t *p, *end;
    bool ok = true;
    template <class T> T get()
    {
        T v{};
        if ((size_t)(end - p) < sizeof v) ok = false;
        else memcpy(&v, p, sizeof v), p += sizeof v;
        return v;
    }
    const uint8_t *take(uint64_t n)
    {
        if (!ok || (uint64_t)(end - p) < n) { ok = false; return nullptr; }
        const uint8_t *q = p;
        p += n;
        return q;
    }
};
}

int dev_checkpoint_read(dev_checkpoint *cp, const uint8_t *data, size_t size)
{
    cp->valid = 0;
    reader r{ data, data + size };
    const uint8_t *m = r.take(8);
    if (!m || memcmp(m, MAGIC, 8) != 0) return 0;
    uint64_t frame = r.get<uint64_t>();
    uint64_t nvars = r.get<uint64_t>();
    if (nvars != state_size()) return 0;
    const uint8_t *vars = r.take(nvars);
    uint32_t rnd = r.get<uint32_t>();
    int32_t rs = r.get<int32_t>(), bs = r.get<int32_t>(), bd = r.get<int32_t>();
    uint64_t nbg = r.get<uint64_t>();
    if (nbg != bg_pixels()) return 0;
    const uint8_t *bg = r.take(nbg * 4);
    uint64_t nfb = r.get<uint64_t>();
    if (nfb != fb_bytes()) return 0;
    const uint8_t *fb = r.take(nfb);
    uint64_t pos = r.get<uint64_t>();
    int16_t playing = r.get<int16_t>();
    int32_t numactive = r.get<int32_t>();
    const uint8_t *active = r.take(SOUND_MAXACTIVE);
    if (!r.ok || r.p != r.end) return 0;
    if (numactive < 0 || numactive > SOUND_MAXACTIVE || (rs & ~0xF) || (playing != 0 && playing != 1)) return 0;
    for (int i = 0; i < SOUND_MAXACTIVE; i++)
        if (active[i] > 1 || (active[i] != 0) != (i < numactive)) return 0;
    cp->frame = frame;
    cp->vars.assign(vars, vars + nvars);
    cp->rand = rnd;
    cp->renderstate = rs;
    cp->blend_src = bs;
    cp->blend_dst = bd;
    cp->bg.resize(nbg);
    if (nbg) memcpy(cp->bg.data(), bg, nbg * 4);
    cp->fb.assign(fb, fb + nfb);
    cp->music_position = pos;
    cp->music_playing = playing;
    cp->numactive = numactive;
    memcpy(cp->active, active, SOUND_MAXACTIVE);
    for (int i = 0; i < SOUND_MAXACTIVE; i++) cp->other[i] = nullptr;
    cp->valid = 1;
    return 1;
}
