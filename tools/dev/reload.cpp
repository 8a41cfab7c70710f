// reload.cpp - live content of the --data folder.
#include "tools/dev/reload.h"

#include <ctype.h>
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <map>
#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "demo/main.h"
#include "demo/show.h"
#include "demo/startup.h"
#include "engine/tga.h"
#include "sound/coresound.h"

static std::string folder;
struct seen { long long size; long long mtime_ns; };
static std::map<std::string, seen> files;   // name below the folder -> what it was
static std::vector<std::string> pending;    // lines not yet reported
static double last_look;
static unsigned changes;                    // looks that found a change

static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// The folder's regular files, by their path below it.
static void scan(const std::string &dir, const std::string &rel, std::map<std::string, seen> *out)
{
    DIR *d = opendir(dir.c_str());
    if (!d) return;
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string path = dir + "/" + e->d_name, name = rel + e->d_name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (rel.size() < 200) scan(path, name + "/", out);
        } else if (S_ISREG(st.st_mode)) {
            (*out)[name] = { (long long)st.st_size, (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec };
        }
    }
    closedir(d);
}

// The show's records that hold the picture of a name (a sprite's sheet, or a
// bitmap): every row of the show's table that loaded it.
static std::vector<s_bitmap *> pictures_of(const std::string &name)
{
    std::vector<s_bitmap *> out;
    for (int i = 0; i < show_asset_count; i++) {
        const show_asset &a = show_assets[i];
        if (a.kind != SHOW_BITMAP && a.kind != SHOW_SPRITE) continue;
        s_bitmap *b = show_picture(&a);
        if (b && name == a.file) out.push_back(b);
    }
    return out;
}

// Reads name through the resource layer and puts it into the records in use.
static std::string reload_picture(const std::string &name, const std::vector<s_bitmap *> &targets, const char *why)
{
    s_corefile f;
    memset(&f, 0, sizeof f);
    if (!corefile_open(name.c_str(), &f, 0)) return name + ": cannot be read: keeps the picture in use";
    const char *from = corefile_fromoverlay(&f) ? "the folder" : "the image";
    size_t len = f.size > 0 ? (size_t)f.size : 0;
    std::vector<uint8_t> data(len ? len : 1);
    if (len) corefile_read(data.data(), 1, (int)len, &f);
    corefile_close(&f);
    s_tgainfo h;
    if (!tga_readheader(data.data(), len, &h))
        return name + " (" + from + "): not a picture the loader can read: keeps the picture in use";
    s_bitmap *t = targets[0];
    if (!t->pixels || h.width != t->width || h.height != t->height) {
        char b[160];
        snprintf(b, sizeof b, "%s (%s): %dx%d, the show's is %dx%d: keeps the picture in use", name.c_str(), from,
                 h.width, h.height, t->width, t->height);
        return b;
    }
    std::vector<uint32_t> px((size_t)t->width * t->height, 0);
    s_bitmap tmp = *t;
    tmp.pixels = px.data();
    int r = tga_decode(data.data(), len, tmp);
    if (r != 1)
        return name + " (" + from + "): " + (r < 0 ? "the file ends before its pixels do" : "cannot be decoded") +
               ": keeps the picture in use";
    for (s_bitmap *b : targets) {
        memcpy(b->pixels, px.data(), px.size() * 4);
        ORB_UpdateBitmap(*b);
    }
    return name + " " + why + ": loaded again from " + from;
}

static std::string reload_music(const char *why)
{
    s_sound s;
    memset(&s, 0, sizeof s);
    Soundsystem_LoadSound("mirador4.wav", &s);
    if (!s.data || s.numsamples <= 0) {
        Soundsystem_DeleteSound(&s);
        return "mirador4.wav: cannot be read as a WAV file: keeps the music in use";
    }
    if (s.channels != gamemusic.channels || s.bits != gamemusic.bits || s.frequency != gamemusic.frequency) {
        char b[160];
        snprintf(b, sizeof b, "mirador4.wav: %d Hz, %d bits, %d channels, the show's is %d Hz, %d bits, %d: keeps the music in use",
                 s.frequency, s.bits, s.channels, gamemusic.frequency, gamemusic.bits, gamemusic.channels);
        Soundsystem_DeleteSound(&s);
        return b;
    }
    // The mixer runs on this thread (in lock-step with the frames): the data can be
    // exchanged between two frames; the position stays.
    soundsystem_lock();
    uint8_t *old = gamemusic.data;
    gamemusic.data = s.data;
    gamemusic.size = s.size;
    gamemusic.numsamples = s.numsamples;
    soundsystem_unlock();
    s.data = old;
    Soundsystem_DeleteSound(&s);
    s_corefile f;
    memset(&f, 0, sizeof f);
    const char *from = corefile_open("mirador4.wav", &f, 0) && corefile_fromoverlay(&f) ? "the folder" : "the image";
    corefile_close(&f);
    return std::string("mirador4.wav ") + why + ": loaded again from " + from;
}

void dev_reload_start(const char *dir)
{
    files.clear();
    pending.clear();
    folder = dir ? dir : "";
    changes = 0;
    if (!folder.empty()) scan(folder, "", &files);
    last_look = now_ms();
}

int dev_reload_poll(char *line, int size)
{
    if (pending.empty() && !folder.empty() && now_ms() - last_look >= 250) {
        last_look = now_ms();
        std::map<std::string, seen> now;
        scan(folder, "", &now);
        std::vector<std::pair<std::string, const char *>> changed;
        for (auto &n : now) {
            auto o = files.find(n.first);
            if (o == files.end()) changed.push_back({ n.first, "appeared" });
            else if (o->second.size != n.second.size || o->second.mtime_ns != n.second.mtime_ns)
                changed.push_back({ n.first, "changed" });
        }
        for (auto &o : files)
            if (!now.count(o.first)) changed.push_back({ o.first, "removed" });
        files.swap(now);
        if (!changed.empty()) changes++;
        for (auto &c : changed) {
            std::string lower = c.first;
            for (char &ch : lower) ch = (char)tolower((unsigned char)ch);
            if (lower == "mirador4.wav") {
                pending.push_back(reload_music(c.second));
                continue;
            }
            std::vector<s_bitmap *> t = pictures_of(lower);
            if (!t.empty()) pending.push_back(reload_picture(lower, t, c.second));
        }
    }
    if (pending.empty()) return 0;
    snprintf(line, (size_t)size, "%s", pending.front().c_str());
    pending.erase(pending.begin());
    return 1;
}

void dev_reload_stop(void)
{
    files.clear();
    pending.clear();
    folder.clear();
}

std::vector<std::string> dev_reload_files(void)
{
    std::vector<std::string> v;
    for (auto &f : files) v.push_back(f.first);
    return v;
}

unsigned dev_reload_changes(void)
{
    return changes;
}
