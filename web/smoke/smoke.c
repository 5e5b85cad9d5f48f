/* Proves the browser build's libraries link and work together: SDL2 video
 * and audio, SDL2_ttf over FreeType, and Ogg Vorbis both ways (a short tone
 * is encoded to an in-memory Ogg stream, then decoded through vorbisfile's
 * callbacks, the same path the game's music takes).
 *
 * In a browser it draws PATTERN_ROWS rows of a pattern anyone can recompute
 * from the pixel position (r = x, g = y, b = x ^ y, each mod 256), text on
 * black below it, and leaves the results in window.smokeResult. Under node
 * there is no canvas, so it runs only the parts that need none. */
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <SDL_ttf.h>
#include <emscripten.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define WIDTH 640
#define HEIGHT 480
#define PATTERN_ROWS 400
#define RATE 22050
#define TONE_SAMPLES (RATE / 4)

typedef struct {
    unsigned char *data;
    size_t size, cap, pos;
} Buffer;

static void append(Buffer *b, const unsigned char *p, long n) {
    if (b->size + n > b->cap) {
        b->cap = (b->size + n) * 2;
        b->data = realloc(b->data, b->cap);
    }
    memcpy(b->data + b->size, p, n);
    b->size += n;
}

static void write_pages(ogg_stream_state *os, Buffer *out, int flush) {
    ogg_page og;
    while (flush ? ogg_stream_flush(os, &og) : ogg_stream_pageout(os, &og)) {
        append(out, og.header, og.header_len);
        append(out, og.body, og.body_len);
    }
}

/* Encodes TONE_SAMPLES of a 440 Hz tone, mono, into out. */
static int encode_tone(Buffer *out) {
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    ogg_stream_state os;
    ogg_packet hdr, comm, code, op;

    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, 1, RATE, 0.1f) != 0) return 0;
    vorbis_comment_init(&vc);
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_init(&os, 47);
    vorbis_analysis_headerout(&vd, &vc, &hdr, &comm, &code);
    ogg_stream_packetin(&os, &hdr);
    ogg_stream_packetin(&os, &comm);
    ogg_stream_packetin(&os, &code);
    write_pages(&os, out, 1);

    float **in = vorbis_analysis_buffer(&vd, TONE_SAMPLES);
    for (int i = 0; i < TONE_SAMPLES; i++)
        in[0][i] = 0.5f * sinf(2.0f * 3.14159265f * 440.0f * i / RATE);
    vorbis_analysis_wrote(&vd, TONE_SAMPLES);
    vorbis_analysis_wrote(&vd, 0);
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
        vorbis_analysis(&vb, NULL);
        vorbis_bitrate_addblock(&vb);
        while (vorbis_bitrate_flushpacket(&vd, &op)) {
            ogg_stream_packetin(&os, &op);
            write_pages(&os, out, 0);
        }
    }
    write_pages(&os, out, 1);
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return 1;
}

static size_t mem_read(void *dst, size_t size, size_t n, void *src) {
    Buffer *b = src;
    size_t want = size * n, left = b->size - b->pos;
    if (want > left) want = left;
    memcpy(dst, b->data + b->pos, want);
    b->pos += want;
    return size ? want / size : 0;
}

static int mem_seek(void *src, ogg_int64_t off, int whence) {
    Buffer *b = src;
    ogg_int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (ogg_int64_t)b->pos : (ogg_int64_t)b->size;
    if (base + off < 0 || base + off > (ogg_int64_t)b->size) return -1;
    b->pos = (size_t)(base + off);
    return 0;
}

static long mem_tell(void *src) { return (long)((Buffer *)src)->pos; }

/* Decodes the whole stream; the sample count must come back exact, and the
 * tone must still be there (its RMS is 0.5/sqrt 2 of full scale). */
static int vorbis_roundtrip(long *samples, double *rms) {
    Buffer ogg = {0};
    if (!encode_tone(&ogg)) return 0;
    OggVorbis_File vf;
    ov_callbacks cb = {mem_read, mem_seek, NULL, mem_tell};
    if (ov_open_callbacks(&ogg, &vf, NULL, 0, cb) != 0) return 0;
    char pcm[4096];
    int section;
    long n, total = 0;
    double sum = 0;
    while ((n = ov_read(&vf, pcm, sizeof pcm, 0, 2, 1, &section)) > 0) {
        const short *s = (const short *)pcm;
        for (long i = 0; i < n / 2; i++) sum += (double)s[i] * s[i];
        total += n / 2;
    }
    int ok = ov_info(&vf, -1)->rate == RATE && ov_pcm_total(&vf, -1) == TONE_SAMPLES;
    ov_clear(&vf);
    free(ogg.data);
    *samples = total;
    *rms = total ? sqrt(sum / total) / 32768.0 : 0;
    return ok && total == TONE_SAMPLES && *rms > 0.3 && *rms < 0.42;
}

/* Counts the pixels the text really covers, so a font that loads but draws
 * nothing still fails. */
static int render_text(TTF_Font *font, SDL_Surface **out) {
    SDL_Color white = {255, 255, 255, 255};
    SDL_Surface *s = TTF_RenderUTF8_Blended(font, "Q-47 smoke", white);
    if (!s) return 0;
    int inked = 0;
    SDL_LockSurface(s);
    for (int y = 0; y < s->h; y++) {
        const Uint32 *row = (const Uint32 *)((const Uint8 *)s->pixels + y * s->pitch);
        for (int x = 0; x < s->w; x++) {
            Uint8 r, g, b, a;
            SDL_GetRGBA(row[x], s->format, &r, &g, &b, &a);
            inked += a > 128;
        }
    }
    SDL_UnlockSurface(s);
    *out = s;
    return inked;
}

static void silence(void *user, Uint8 *stream, int len) {
    (void)user;
    memset(stream, 0, len);
}

static int open_audio(void) {
    SDL_AudioSpec want = {0}, have;
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = silence;
    SDL_AudioDeviceID dev = SDL_OpenAudioDevice(NULL, 0, &want, &have, 0);
    if (dev) SDL_PauseAudioDevice(dev, 0);
    return dev != 0;
}

static void draw_pattern(SDL_Surface *s) {
    SDL_LockSurface(s);
    for (int y = 0; y < PATTERN_ROWS; y++) {
        Uint32 *row = (Uint32 *)((Uint8 *)s->pixels + y * s->pitch);
        for (int x = 0; x < s->w; x++)
            row[x] = SDL_MapRGB(s->format, x & 255, y & 255, (x ^ y) & 255);
    }
    SDL_UnlockSurface(s);
    SDL_Rect below = {0, PATTERN_ROWS, s->w, s->h - PATTERN_ROWS};
    SDL_FillRect(s, &below, SDL_MapRGB(s->format, 0, 0, 0));
}

int main(void) {
    int in_browser = EM_ASM_INT({ return typeof document !== 'undefined'; });

    long samples = 0;
    double rms = 0;
    int vorbis_ok = vorbis_roundtrip(&samples, &rms);
    printf("smoke: vorbis %s, %ld samples, rms %.3f\n", vorbis_ok ? "ok" : "FAILED", samples, rms);

    if (SDL_Init(in_browser ? SDL_INIT_VIDEO | SDL_INIT_AUDIO : 0) != 0 || TTF_Init() != 0) {
        printf("smoke: init FAILED: %s\n", SDL_GetError());
        return 1;
    }
    TTF_Font *font = TTF_OpenFont("/font.ttf", 32);
    SDL_Surface *text = NULL;
    int inked = font ? render_text(font, &text) : 0;
    printf("smoke: ttf %s, %d pixels inked\n", inked > 100 ? "ok" : "FAILED", inked);

    if (!in_browser) {
        int ok = vorbis_ok && inked > 100;
        puts(ok ? "smoke: node ok" : "smoke: node FAILED");
        return ok ? 0 : 1;
    }

    SDL_Window *win = SDL_CreateWindow("smoke", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                       WIDTH, HEIGHT, 0);
    SDL_Surface *screen = win ? SDL_GetWindowSurface(win) : NULL;
    int drawn = 0;
    if (screen) {
        draw_pattern(screen);
        if (text) {
            SDL_Rect at = {10, PATTERN_ROWS + 20, 0, 0};
            SDL_BlitSurface(text, NULL, screen, &at);
        }
        drawn = SDL_UpdateWindowSurface(win) == 0;
    }
    int audio_ok = open_audio();
    printf("smoke: window %s, audio %s\n", drawn ? "ok" : "FAILED", audio_ok ? "ok" : "FAILED");

    /* One statement per field: a comma inside EM_ASM's braces would split
     * the macro's arguments. */
    EM_ASM({
        var r = {};
        r.width = $0; r.height = $1; r.patternRows = $2;
        r.vorbis = !!$3; r.textPixels = $4; r.drawn = !!$5; r.audio = !!$6;
        window.smokeResult = r;
    }, WIDTH, HEIGHT, PATTERN_ROWS, vorbis_ok, inked, drawn, audio_ok);
    /* Returning keeps the runtime (and the canvas) alive: no EXIT_RUNTIME. */
    return 0;
}
