// freedir.cpp - free-direction tunnel, plane pair and sphere.
#include "demo/freedir.h"

#include <math.h>
#include <stdlib.h>

float FD_sintab[1024], FD_costab[1024];
float rotmatrix[9];
s_fdvector origin, direction, rdirection, intersection;
int *tempu = 0, *tempv = 0, *tempz = 0;
int free_inited = 0;

static int64_t fd_capacity = 0;   // entries of each corner grid

// Truncation of a non-negative texture coordinate. Values past the int range (a
// ray almost parallel to the floor, a degenerate hit) would be undefined as a
// plain cast: they are reduced modulo 65536, which keeps the texel they address
// (only the low 16 bits of column + 256 x row are used); NaN becomes 0.
static int fd_coord(double v)
{
    if (v < 2147483648.0) return (int)v;
    if (isfinite(v)) return (int)fmod(v, 65536.0);
    return 0;
}

// Truncation of a non-negative depth into 0..255; NaN counts as far away.
static int fd_depth(double v)
{
    if (v < 255.0) return (int)v;
    return 255;
}

void FD_Initialise(int w, int h)
{
    free(tempu);
    free(tempv);
    free(tempz);
    tempu = tempv = tempz = 0;
    free_inited = 0;
    fd_capacity = 0;
    if (w < 0 || h < 0) return;

    int64_t n = ((int64_t)w + 1) * ((int64_t)h + 1);
    tempu = (int *)malloc((size_t)n * sizeof(int));
    tempv = (int *)malloc((size_t)n * sizeof(int));
    tempz = (int *)malloc((size_t)n * sizeof(int));
    if (!tempu || !tempv || !tempz) {
        free(tempu);
        free(tempv);
        free(tempz);
        tempu = tempv = tempz = 0;
        return;
    }
    fd_capacity = n;
    for (int i = 0; i < 1024; i++) {
        FD_sintab[i] = (float)sin(i * 0.006135923151542565);
        FD_costab[i] = (float)cos(i * 0.006135923151542565);
    }
    free_inited = 1;
}

void FD_createrotationmatrix(int ax, int ay, int az)
{
    float sa = FD_sintab[ax & 1023], ca = FD_costab[ax & 1023];
    float sb = FD_sintab[ay & 1023], cb = FD_costab[ay & 1023];
    float sc = FD_sintab[az & 1023], cc = FD_costab[az & 1023];
    rotmatrix[0] = cb * cc;
    rotmatrix[1] = cb * sc;
    rotmatrix[2] = -sb;
    rotmatrix[3] = sa * sb * cc - ca * sc;
    rotmatrix[4] = sa * sb * sc + ca * cc;
    rotmatrix[5] = sa * cb;
    rotmatrix[6] = ca * sb * cc + sa * sc;
    rotmatrix[7] = ca * sb * sc - sa * cc;
    rotmatrix[8] = ca * cb;
}

void FD_normalizevector(s_fdvector *v)
{
    float l2 = v->x * v->x + v->y * v->y + v->z * v->z;
    float len = (float)sqrt((double)l2);
    if (len == 0.0f) return;
    v->x = v->x / len;
    v->y = v->y / len;
    v->z = v->z / len;
}

void FD_transformvector(s_fdvector *in, s_fdvector *out)
{
    const float *m = rotmatrix;
    float x = in->x * m[0] + in->y * m[3] + in->z * m[6];
    float y = in->x * m[1] + in->y * m[4] + in->z * m[7];
    float z = in->x * m[2] + in->y * m[5] + in->z * m[8];
    out->x = x;
    out->y = y;
    out->z = z;
}

float FD_min(float a, float b) { return b > a ? a : b; }
int FD_checkme(int a, int b) { return a < 0 ? 0 : (a < b ? a : b); }
int FD_bound(int a, int b) { return a > b ? b : a; }

// Root of a t^2 + b t + c = 0 used for the tunnel and the sphere: none gives 0
// (the origin itself), otherwise the smaller root. a is 0 only for a ray along
// the tunnel's axis (or a zero ray), which meets nothing at any distance: NaN,
// which the conversions take as far away, instead of dividing by zero.
static float fd_quadratic(float a, float b, float c)
{
    if (a == 0) return NAN;
    float D = b * b - 4 * a * c;
    if (D < 0) return 0.0f;
    if (D == 0) return -b / (2 * a);
    double sq = sqrt((double)D);
    return FD_min((float)((-b - sq) / (2 * a)), (float)((-b + sq) / (2 * a)));
}

// One corner of the grid: cast the ray, intersect, store column, row and depth.
static void fd_corner(const s_freedir *fd, int e, float halfh)
{
    const float R = 128.0f;
    s_fdvector d = rdirection, o = origin;
    float t;

    if (fd->type == FD_TUNNEL) {
        float a = d.x * d.x + d.y * d.y;
        float b = 2 * (o.x * d.x + o.y * d.y);
        float c = o.x * o.x + o.y * o.y - R * R;
        t = fd_quadratic(a, b, c);
    } else if (fd->type == FD_PLANE) {
        // Floor at y = H/2; rays going up meet its mirror image, the ceiling.
        // A ray parallel to the floor never meets it.
        t = d.y != 0 ? fabsf((halfh - o.y) / d.y) : INFINITY;
    } else {
        float a = d.x * d.x + d.y * d.y + d.z * d.z;
        float b = 2 * (o.x * d.x + o.y * d.y + o.z * d.z);
        float c = o.x * o.x + o.y * o.y + o.z * o.z - R * R;
        t = fd_quadratic(a, b, c);
    }
    intersection.x = o.x + t * d.x;
    intersection.y = o.y + t * d.y;
    intersection.z = o.z + t * d.z;
    const s_fdvector &i = intersection;

    if (fd->type == FD_TUNNEL) {
        tempu[e] = fd_coord(fabsf(i.z) * 0.4);
        tempv[e] = fd_coord(fabs(atan2((double)i.y, (double)i.x)) * 256.0 / M_PI);
        tempz[e] = fd_depth(fabsf(i.z - o.z) * 0.4);
    } else if (fd->type == FD_PLANE) {
        tempu[e] = fd_coord(fabsf(i.z) * 0.4);
        tempv[e] = fd_coord(fabsf(i.x) * 0.4);
        tempz[e] = fd_depth(fabsf(i.z - o.z) * 0.4);
    } else {
        // Latitude -pi/2..pi/2 spread linearly over the 256 texture columns.
        double len = sqrt((double)(i.x * i.x + i.y * i.y + i.z * i.z));
        double s = len > 0 ? i.y / len : 0.0;
        if (s > 1.0) s = 1.0;
        if (s < -1.0) s = -1.0;
        double lat = asin(s);
        tempu[e] = fd_coord((lat + M_PI / 2) * 256.0 / M_PI);
        tempv[e] = fd_coord(fabs(atan2((double)i.z, (double)i.x)) * 256.0 / M_PI);
        tempz[e] = 0;
    }
}

// Fill the blocks from the corner grid. Interpolation runs in unsigned 32-bit
// arithmetic: for corner values in the usual range it is the signed fixed-point
// computation bit for bit, and for huge ones it wraps instead of overflowing,
// leaving the low 16 bits of the texel index exact.
static void fd_blocks(const s_freedir *fd, uint32_t *pixels, int W, int H, int GW, int B)
{
    const uint32_t *tex = fd->texture;
    const int shaded = fd->type != FD_SPHERE;
    for (int by = 0; by < H; by += 8) {
        int rows = H - by < 8 ? H - by : 8;
        for (int bx = 0; bx < W; bx += 8) {
            int cols = W - bx < 8 ? W - bx : 8;
            int e = (by >> 3) * GW + (bx >> 3);
            uint32_t Lu = (uint32_t)tempu[e] * 8, Ru = (uint32_t)tempu[e + 1] * 8;
            uint32_t Lv = (uint32_t)tempv[e] * 8, Rv = (uint32_t)tempv[e + 1] * 8;
            uint32_t Lz = (uint32_t)tempz[e] * 8, Rz = (uint32_t)tempz[e + 1] * 8;
            uint32_t dLu = (uint32_t)tempu[e + GW] - (uint32_t)tempu[e];
            uint32_t dRu = (uint32_t)tempu[e + GW + 1] - (uint32_t)tempu[e + 1];
            uint32_t dLv = (uint32_t)tempv[e + GW] - (uint32_t)tempv[e];
            uint32_t dRv = (uint32_t)tempv[e + GW + 1] - (uint32_t)tempv[e + 1];
            uint32_t dLz = (uint32_t)tempz[e + GW] - (uint32_t)tempz[e];
            uint32_t dRz = (uint32_t)tempz[e + GW + 1] - (uint32_t)tempz[e + 1];
            for (int row = 0; row < rows; row++) {
                uint32_t pu = Lu * 8, su = Ru - Lu;
                uint32_t pv = Lv * 8, sv = Rv - Lv;
                uint32_t pz = Lz * 8, sz = Rz - Lz;
                uint32_t *dst = pixels + (size_t)(by + row) * W + bx;
                for (int col = 0; col < cols; col++) {
                    uint32_t texel = tex[((pu >> 6) + ((pv >> 6) << 8)) & 0xFFFF];
                    if (shaded) {
                        int z = (int)(int32_t)pz >> 6;
                        uint32_t s = B > z ? (uint32_t)(B - z) : 0u;
                        uint32_t r = ((((texel >> 16) & 0xFF) * s) >> 8) & 0xFF;
                        uint32_t g = ((((texel >> 8) & 0xFF) * s) >> 8) & 0xFF;
                        uint32_t b = (((texel & 0xFF) * s) >> 8) & 0xFF;
                        dst[col] = 0xFF000000u | (r << 16) | (g << 8) | b;
                    } else {
                        dst[col] = texel | 0xFF000000u;
                    }
                    pu += su;
                    pv += sv;
                    pz += sz;
                }
                Lu += dLu;
                Ru += dRu;
                Lv += dLv;
                Rv += dRv;
                Lz += dLz;
                Rz += dRz;
            }
        }
    }
}

// Speed to turn step: truncate, then halve toward zero; saturating where the
// speed is beyond the int range (a plain cast would be undefined there).
static int fd_turnstep(float speed)
{
    int s;
    if (speed != speed) s = 0;
    else if (speed >= 2147483648.0f) s = 2147483647;
    else if (speed < -2147483648.0f) s = -2147483647 - 1;
    else s = (int)speed;
    return s / 2;
}

void FD_Render(s_freedir *fd, s_bitmap target, int brightness)
{
    if (!free_inited) return;

    origin.x = fd->x;
    origin.y = fd->y;
    origin.z = fd->z;
    FD_createrotationmatrix(0, fd->angle, fd->angle);

    if (fd->rotate) {
        // One step of at most half a turn lands in 0..2047 and is wrapped once;
        // anything else (a negative speed, a corrupted angle) takes a full modulo.
        int64_t a = (int64_t)fd->angle + fd_turnstep(fd->speed);
        if (a > 1023) a -= 1024;
        if (a < 0 || a > 1023) a &= 1023;
        fd->angle = (int32_t)a;
    }

    int W = target.width, H = target.height;
    int GW = (W + 7) / 8 + 1, GH = (H + 7) / 8 + 1;
    int drawable = target.pixels && W > 0 && H > 0 && fd->type <= FD_SPHERE &&
                   (int64_t)GW * GH <= fd_capacity;
    if (drawable && !fd->texture) {
        for (int64_t k = 0; k < (int64_t)W * H; k++) target.pixels[k] = 0xFF000000u;
    } else if (drawable) {
        float halfh = (float)(H / 2);
        for (int gy = 0; gy < GH; gy++) {
            for (int gx = 0; gx < GW; gx++) {
                direction.x = (float)(gx * 8 - W / 2);
                direction.y = (float)(gy * 8 - H / 2);
                direction.z = (float)fd->focal;
                FD_normalizevector(&direction);
                FD_transformvector(&direction, &rdirection);
                fd_corner(fd, gy * GW + gx, halfh);
            }
        }
        fd_blocks(fd, target.pixels, W, H, GW, brightness);
    }

    if (fd->type != FD_SPHERE) origin.z += fd->speed;
    fd->x = origin.x;
    fd->y = origin.y;
    fd->z = origin.z;
}
