// Drawing front end: colour caches, mode and font bookkeeping, forwarding to the target's
// back end; and the software back end that draws into a plain pixel array.
#include "media/draw.h"

#include "media/draw_target.h"
#include "media/font.h"
#include "media/raster.h"

namespace {

// The target that drawing operations act on; one per thread, as each thread draws its own pass.
thread_local DrawTarget* current_target = nullptr;

RasterSurface surface_of(const DrawTarget* t) {
  return RasterSurface{t->pixels, t->width, t->height, t->pitch};
}

// --- Software back end ---

void soft_set_back_colour(DrawTarget* t, uint32_t colour) { t->back = colour; }

void soft_box(DrawTarget* t, int32_t x, int32_t y, int32_t w, int32_t h) {
  raster_box(surface_of(t), x, y, w, h, t->front, t->mode);
}

void soft_circle(DrawTarget* t, int32_t x, int32_t y, int32_t radius) {
  raster_circle(surface_of(t), x, y, radius, t->front, t->mode);
}

void soft_select_font(DrawTarget* t, FontHandle font) { t->font = font == -1 ? 0 : font; }

void soft_set_front_colour(DrawTarget* t, uint32_t colour) {
  t->front = colour;
  ++t->front_colour_sets;
}

void soft_set_mode(DrawTarget* t, int32_t mode) {
  t->mode = mode;
  // Leaving outline mode must give the fill its colour back, as with a re-made brush.
  soft_set_front_colour(t, t->front);
}

int32_t soft_text(DrawTarget* t, int32_t x, int32_t y, const char* text) {
  const int32_t opaque = (t->mode & DRAW_TRANSPARENT) ? 0 : 1;
  return x + font_draw_text(surface_of(t), t->font, x, y, text, t->front, t->back, opaque);
}

int32_t soft_start(DrawTarget* t) {
  t->mode = 0;
  t->font = 0;
  t->front = 0;
  t->back = 0;
  return t->pixels != nullptr;
}

void soft_stop(DrawTarget*) {}

int32_t soft_text_height(DrawTarget* t, const char* text) {
  return font_text_height(t->font, text);
}

int32_t soft_text_width(DrawTarget* t, const char* text) { return font_text_width(t->font, text); }

constexpr DrawBackend SOFT_BACKEND = {
    soft_set_back_colour,  soft_box,   soft_circle, soft_select_font, soft_set_mode,   soft_text,
    soft_set_front_colour, soft_start, soft_stop,   soft_text_height, soft_text_width,
};

// The current target while a pass is open on it; null otherwise, so stray calls do nothing.
DrawTarget* open_target() {
  return current_target && current_target->started ? current_target : nullptr;
}

void apply_front(DrawTarget* t, uint32_t colour) {
  if (colour == t->front_cache) return;
  t->front_cache = colour;
  t->backend->set_front_colour(t, colour);
}

void apply_back(DrawTarget* t, uint32_t colour) {
  if (colour == t->back_cache) return;
  t->back_cache = colour;
  t->backend->set_back_colour(t, colour);
}

void free_current() {
  delete current_target;
  current_target = nullptr;
}

}  // namespace

DrawTarget* draw_target_on_pixels(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch) {
  if (!pixels || width <= 0 || height <= 0 || pitch < width) return nullptr;
  // An earlier target that was never ended can no longer be reached by anyone: free it here
  // rather than leak it.
  free_current();
  auto* t = new DrawTarget{};
  t->backend = &SOFT_BACKEND;
  t->pixels = pixels;
  t->width = width;
  t->height = height;
  t->pitch = pitch;
  t->front_cache = DRAW_NO_COLOUR;
  t->back_cache = DRAW_NO_COLOUR;
  t->default_back = 0;
  current_target = t;
  return t;
}

void draw_forget_pixels(const uint32_t* pixels) {
  if (current_target && current_target->pixels == pixels) free_current();
}

DrawTarget* draw_current_target() { return current_target; }

void drawing_system_init() { font_system_init(); }

void drawing_system_shutdown() {
  free_current();
  font_system_shutdown();
}

int32_t draw_begin(DrawTarget* target) {
  if (!target) return 0;
  // Only the current target is alive; any other pointer is stale and must not be touched.
  if (target != current_target) return 0;
  if (!target->backend->start(target)) {
    free_current();
    return 0;
  }
  target->started = 1;
  return 1;
}

void draw_end() {
  DrawTarget* t = current_target;
  if (!t) return;
  if (t->started) t->backend->stop(t);
  free_current();
}

void draw_box(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
  DrawTarget* t = open_target();
  if (!t) return;
  apply_front(t, colour);
  t->backend->box(t, x, y, w, h);
}

void draw_circle(int32_t x, int32_t y, int32_t radius, uint32_t colour) {
  DrawTarget* t = open_target();
  if (!t) return;
  apply_front(t, colour);
  t->backend->circle(t, x, y, radius);
}

int32_t draw_text_colors(int32_t x, int32_t y, const char* text, uint32_t front, uint32_t back) {
  DrawTarget* t = open_target();
  if (!t) return x;
  apply_front(t, front);
  apply_back(t, back);
  if (!text || !*text) return x;
  return t->backend->text(t, x, y, text);
}

int32_t draw_text(int32_t x, int32_t y, const char* text, uint32_t front) {
  DrawTarget* t = open_target();
  if (!t) return x;
  return draw_text_colors(x, y, text, front, t->default_back);
}

void draw_set_mode(int32_t mode) {
  DrawTarget* t = open_target();
  if (!t) return;
  t->backend->set_mode(t, mode);
}

void draw_set_font(FontHandle font) {
  DrawTarget* t = open_target();
  if (!t) return;
  t->backend->select_font(t, font);
}

int32_t text_width(const char* text) {
  if (!text || !*text) return 0;
  DrawTarget* t = open_target();
  return t ? t->backend->text_width(t, text) : font_text_width(0, text);
}

int32_t text_height(const char* text) {
  if (!text || !*text) return 0;
  DrawTarget* t = open_target();
  return t ? t->backend->text_height(t, text) : font_text_height(0, text);
}
