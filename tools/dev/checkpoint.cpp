// checkpoint.cpp - saving and restoring a point of the show.
#include "tools/dev/checkpoint.h"

#include <GL/glew.h>
#include <string.h>

#include "demo/main.h"
#include "demo/rand.h"
#include "demo/scenes.h"
#include "demo/startup.h"
#include "engine/video.h"

// The sequence's framebuffer: the draw target start-up made current.
static const s_framebufferdata *show_fb(void)
{
    return ORB_FrameBuffer ? &ORB_framebufferdata[ORB_FrameBuffer->index] : nullptr;
}

void dev_checkpoint_save(dev_checkpoint *cp, uint64_t frame)
{
    cp->frame = frame;
    cp->scene = scene;
    cp->scenestart = scenestart;
    cp->scenetime = scenetime;
    cp->dt = dt;
    cp->fade = fade;
    cp->pulse = pulse;
    cp->pulse2 = pulse2;
    cp->framecount = framecount;
    cp->spawncount = spawncount;
    cp->quit = quit;
    cp->rand = orb_rand_getstate();

    cp->video_time = ORB_video_time;
    cp->video_numframes = ORB_video_numframes;
    cp->renderstate = ORB_renderstate;
    glGetIntegerv(GL_BLEND_SRC, &cp->blend_src);
    glGetIntegerv(GL_BLEND_DST, &cp->blend_dst);

    cp->fdtunnel = fdtunnel;
    cp->fdsphere = fdsphere;
    cp->fdplane = fdplane;
    cp->camera = camera;
    cp->juliare = juliare;
    cp->juliaim = juliaim;
    cp->juliareup = juliareup;
    cp->juliaimup = juliaimup;
    cp->heading = heading;
    memcpy(cp->particle, particle, sizeof particle);
    cp->startparticle = startparticle;
    memcpy(cp->vertex, vertex, sizeof vertex);
    cp->xa = xa;
    cp->ya = ya;
    cp->za = za;
    cp->numvertices = numvertices;
    cp->vectorstate = vectorstate;
    cp->vectorobject = vectorobject;
    cp->vectorx = vectorx;
    cp->vectory = vectory;
    cp->vectordelay = vectordelay;

    size_t n = bmp_bg.pixels ? (size_t)bmp_bg.width * bmp_bg.height : 0;
    cp->bg.assign(bmp_bg.pixels, bmp_bg.pixels + n);
    const s_framebufferdata *d = show_fb();
    if (d && orb_glready) {
        cp->fb.resize((size_t)ORB_FrameBuffer->width * ORB_FrameBuffer->height * 4);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, ORB_FrameBuffer->width, ORB_FrameBuffer->height, GL_RGBA, GL_UNSIGNED_BYTE,
                     cp->fb.data());
    } else {
        cp->fb.clear();
    }

    soundsystem_lock();
    cp->music = gamemusic;
    memcpy(cp->active, active_sounds, sizeof active_sounds);
    cp->numactive = soundsystem.numactive;
    soundsystem_unlock();
    cp->valid = 1;
}

void dev_checkpoint_restore(const dev_checkpoint *cp)
{
    scene = cp->scene;
    scenestart = cp->scenestart;
    scenetime = cp->scenetime;
    dt = cp->dt;
    fade = cp->fade;
    pulse = cp->pulse;
    pulse2 = cp->pulse2;
    framecount = cp->framecount;
    spawncount = cp->spawncount;
    quit = cp->quit;
    orb_rand_setstate(cp->rand);

    ORB_video_time = cp->video_time;
    ORB_video_numframes = cp->video_numframes;
    // The mask decides which enables take effect (a call returns when any bit of its
    // mask is already on), so GL is brought to exactly the saved states.
    static const int bits[4] = { 0x1, 0x2, 0x4, 0x8 };
    for (int b : bits) {
        ORB_DisableRenderState(b);
        if (cp->renderstate & b) ORB_EnableRenderState(b);
    }
    glBlendFunc((GLenum)cp->blend_src, (GLenum)cp->blend_dst);

    fdtunnel = cp->fdtunnel;
    fdsphere = cp->fdsphere;
    fdplane = cp->fdplane;
    camera = cp->camera;
    juliare = cp->juliare;
    juliaim = cp->juliaim;
    juliareup = cp->juliareup;
    juliaimup = cp->juliaimup;
    heading = cp->heading;
    memcpy(particle, cp->particle, sizeof particle);
    startparticle = cp->startparticle;
    memcpy(vertex, cp->vertex, sizeof vertex);
    xa = cp->xa;
    ya = cp->ya;
    za = cp->za;
    numvertices = cp->numvertices;
    vectorstate = cp->vectorstate;
    vectorobject = cp->vectorobject;
    vectorx = cp->vectorx;
    vectory = cp->vectory;
    vectordelay = cp->vectordelay;

    if (bmp_bg.pixels && cp->bg.size() == (size_t)bmp_bg.width * bmp_bg.height) {
        memcpy(bmp_bg.pixels, cp->bg.data(), cp->bg.size() * 4);
        ORB_UpdateBitmap(bmp_bg);
    }
    const s_framebufferdata *d = show_fb();
    if (d && orb_glready && cp->fb.size() == (size_t)ORB_FrameBuffer->width * ORB_FrameBuffer->height * 4) {
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
    gamemusic.position = cp->music.position;
    gamemusic.playing = cp->music.playing;
    memcpy(active_sounds, cp->active, sizeof active_sounds);
    soundsystem.numactive = cp->numactive;
    soundsystem_unlock();
}

size_t dev_checkpoint_bytes(const dev_checkpoint *cp)
{
    return sizeof *cp + cp->bg.capacity() * sizeof(uint32_t) + cp->fb.capacity();
}
