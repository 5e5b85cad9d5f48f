#include "media/font.h"

#include <SDL.h>
#include <SDL_ttf.h>
// The browser and Windows have no fontconfig: the program carries its one face.
#if defined(__EMSCRIPTEN__) || defined(_WIN32)
#define FONT_CARRIED 1
#else
#include <fontconfig/fontconfig.h>
#endif

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

constexpr int32_t FONT_DPI = 96;             // the resolution the game's point sizes assume
constexpr int32_t FONT_DEFAULT_POINTS = 14;  // size of the default font
constexpr int32_t FONT_MAX_POINTS = 1000;    // larger requests are refused, not attempted
constexpr int32_t FONT_MAX_ID = 65535;       // ids above are refused
constexpr int32_t FONT_STYLE_UNDERLINE = 4;
constexpr int32_t FONT_STYLE_STRIKEOUT = 8;
#ifndef FONT_CARRIED
constexpr int32_t FONT_STYLE_BOLD = 0x100;
constexpr int32_t FONT_STYLE_ITALIC = 0x200;
#else
// A browser has no fontconfig and no system fonts, and Windows has no Liberation Sans. The page
// (and the Windows program, in fonts\ beside q47.exe) carries the face a Debian desktop
// draws the game's text with: there "Arial" and "Helvetica" are Liberation Sans (fontconfig's
// metric-compatible stand-in) and "Tahoma" has none, so the same family wins here. It also
// stands in for the generic default face. Bold and italic get the regular face.
constexpr const char* FONT_CARRIED_FILE = "fonts/LiberationSans-Regular.ttf";
constexpr const char* FONT_CARRIED_FAMILIES[] = {"arial", "helvetica", "liberationsans"};
#endif

struct Font {
  int32_t id;         // the caller's id
  FontHandle handle;  // what font_load returned; never reused, so a stale handle finds nothing
  TTF_Font* face;     // the opened face at its pixel size
  std::string file;   // where the face came from
};

struct FontState {
  int32_t ttf_ready = 0;  // TTF_Init succeeded
#ifndef FONT_CARRIED
  FcConfig* config = nullptr;  // configuration faces are looked up in; null = the system's
#endif
  std::vector<Font> fonts;           // loaded fonts, by id
  FontHandle next_handle = 1;        // handle of the next loaded font
  TTF_Font* default_face = nullptr;  // generic sans-serif, opened on first need
  std::string default_file;          // its file
  int32_t default_tried = 0;         // the default face was looked for (found or not)
};

FontState FONTS;

// Family names compare as fontconfig compares them: ignoring case and blanks.
std::string family_key(const char* name) {
  std::string key;
  for (; *name; ++name) {
    if (*name != ' ') key += static_cast<char>(std::tolower(static_cast<unsigned char>(*name)));
  }
  return key;
}

bool ttf_ready() {
  if (!FONTS.ttf_ready && TTF_Init() == 0) FONTS.ttf_ready = 1;
  return FONTS.ttf_ready != 0;
}

#ifdef FONT_CARRIED
// Where the carried face is: in the page's file system, or beside the program.
std::string carried_file() {
#ifdef _WIN32
  char* base = SDL_GetBasePath();
  std::string file = std::string(base ? base : "") + FONT_CARRIED_FILE;
  SDL_free(base);
  return file;
#else
  return std::string("/") + FONT_CARRIED_FILE;
#endif
}

std::string find_face(const char* family, int32_t, bool exact_family) {
  const std::string key = family_key(family);
  for (const char* known : FONT_CARRIED_FAMILIES) {
    if (key == known) return carried_file();
  }
  return exact_family ? "" : carried_file();
}
#else
// The file fontconfig picks for pattern, or "" when it has none.
std::string match_file(FcPattern* pattern, bool exact_family) {
  FcConfigSubstitute(FONTS.config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  // The names fontconfig binds strongly after substitution are the family itself and its
  // metric-compatible stand-ins; anything weaker is a look-alike the caller did not ask for.
  std::vector<std::string> accepted;
  FcValue value;
  FcValueBinding binding;
  for (int i = 0; FcPatternGetWithBinding(pattern, FC_FAMILY, i, &value, &binding) == FcResultMatch;
       ++i) {
    if (value.type == FcTypeString && binding == FcValueBindingStrong) {
      accepted.push_back(family_key(reinterpret_cast<const char*>(value.u.s)));
    }
  }
  FcResult result;
  FcPattern* match = FcFontMatch(FONTS.config, pattern, &result);
  if (!match) return "";
  std::string file;
  FcChar8* text = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &text) == FcResultMatch) {
    file = reinterpret_cast<const char*>(text);
  }
  if (exact_family) {
    bool same = false;
    for (int i = 0; !same && FcPatternGetString(match, FC_FAMILY, i, &text) == FcResultMatch; ++i) {
      const std::string key = family_key(reinterpret_cast<const char*>(text));
      same = std::find(accepted.begin(), accepted.end(), key) != accepted.end();
    }
    if (!same) file.clear();
  }
  FcPatternDestroy(match);
  return file;
}

std::string find_face(const char* family, int32_t style, bool exact_family) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return "";
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(pattern, FC_WEIGHT,
                      (style & FONT_STYLE_BOLD) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT,
                      (style & FONT_STYLE_ITALIC) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  std::string file = match_file(pattern, exact_family);
  FcPatternDestroy(pattern);
  return file;
}
#endif

TTF_Font* open_face(const std::string& file, int32_t points, int32_t style) {
  if (file.empty() || !ttf_ready()) return nullptr;
  TTF_Font* face = TTF_OpenFont(file.c_str(), font_pixel_size(points));
  if (!face) return nullptr;
  int ttf_style = TTF_STYLE_NORMAL;
  if (style & FONT_STYLE_UNDERLINE) ttf_style |= TTF_STYLE_UNDERLINE;
  if (style & FONT_STYLE_STRIKEOUT) ttf_style |= TTF_STYLE_STRIKETHROUGH;
  TTF_SetFontStyle(face, ttf_style);
  return face;
}

Font* font_by_handle(FontHandle handle) {
  for (Font& f : FONTS.fonts) {
    if (f.handle == handle) return &f;
  }
  return nullptr;
}

TTF_Font* default_face() {
  if (!FONTS.default_tried) {
    FONTS.default_tried = 1;
    FONTS.default_file = find_face("sans-serif", 0, false);
    FONTS.default_face = open_face(FONTS.default_file, FONT_DEFAULT_POINTS, 0);
    if (!FONTS.default_face) FONTS.default_file.clear();
  }
  return FONTS.default_face;
}

// The face text is drawn in: the loaded font, or the default one for 0 and unknown handles.
TTF_Font* face_for(FontHandle handle) {
  if (handle != 0) {
    if (Font* f = font_by_handle(handle)) return f->face;
  }
  return default_face();
}

void close_font(Font& f) {
  if (f.face) TTF_CloseFont(f.face);
  f.face = nullptr;
}

void forget_default() {
  if (FONTS.default_face) TTF_CloseFont(FONTS.default_face);
  FONTS.default_face = nullptr;
  FONTS.default_file.clear();
  FONTS.default_tried = 0;
}

}  // namespace

int32_t font_pixel_size(int32_t points) {
  // Rounded to the nearest pixel, halves away from zero.
  const int64_t scaled = int64_t{points} * FONT_DPI;
  return static_cast<int32_t>(scaled >= 0 ? (scaled + 36) / 72 : (scaled - 36) / 72);
}

void font_system_init() { ttf_ready(); }

void font_system_shutdown() {
  for (Font& f : FONTS.fonts) close_font(f);
  FONTS.fonts.clear();
  forget_default();
  if (FONTS.ttf_ready) TTF_Quit();
  FONTS.ttf_ready = 0;
#ifndef FONT_CARRIED
  if (FONTS.config) FcConfigDestroy(FONTS.config);
  FONTS.config = nullptr;
  // Nothing else in the program uses fontconfig: its configuration goes with the fonts.
  FcFini();
#endif
}

FontHandle font_load(int32_t id, const char* face, int32_t size, int32_t style) {
  if (id < -1 || id > FONT_MAX_ID) return 0;
  if (!face || !*face || size <= 0 || size > FONT_MAX_POINTS) return 0;
  if (id == -1) {
    id = FONT_MAX_ID + 1;
    for (const Font& f : FONTS.fonts) id = std::max(id, f.id + 1);
  } else {
    // Loading under a used id replaces that font, even when the new face cannot be had.
    for (auto it = FONTS.fonts.begin(); it != FONTS.fonts.end(); ++it) {
      if (it->id == id) {
        close_font(*it);
        FONTS.fonts.erase(it);
        break;
      }
    }
  }
  const std::string file = find_face(face, style, true);
  TTF_Font* opened = open_face(file, size, style);
  if (!opened) return 0;
  const FontHandle handle = FONTS.next_handle++;
  FONTS.fonts.push_back(Font{id, handle, opened, file});
  return handle;
}

int32_t font_text_width(FontHandle font, const char* text) {
  if (!text || !*text) return 0;
  TTF_Font* face = face_for(font);
  int w = 0, h = 0;
  if (!face || TTF_SizeText(face, text, &w, &h) != 0) return 0;
  return w;
}

int32_t font_text_height(FontHandle font, const char* text) {
  if (!text || !*text) return 0;
  TTF_Font* face = face_for(font);
  return face ? TTF_FontHeight(face) : 0;
}

int32_t font_draw_text(const RasterSurface& surface, FontHandle font, int32_t x, int32_t y,
                       const char* text, uint32_t front, uint32_t back, int32_t opaque) {
  if (!text || !*text) return 0;
  TTF_Font* face = face_for(font);
  int width = 0, height = 0;
  // The game's texts are single-byte; they are read as Latin-1 so that no byte is rejected.
  if (!face || TTF_SizeText(face, text, &width, &height) != 0) return 0;
  const int cell_height = TTF_FontHeight(face);
  if (opaque) raster_fill(surface, x, y, width, cell_height, back);
  // White glyphs on transparent: the alpha channel is the coverage to blend the front colour by.
  SDL_Surface* glyphs = TTF_RenderText_Blended(face, text, SDL_Color{255, 255, 255, 255});
  if (!glyphs) return width;
  SDL_Surface* argb = glyphs;
  if (glyphs->format->format != SDL_PIXELFORMAT_ARGB8888) {
    argb = SDL_ConvertSurfaceFormat(glyphs, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(glyphs);
    if (!argb) return width;
  }
  std::vector<uint8_t> mask(static_cast<size_t>(argb->w) * argb->h);
  SDL_LockSurface(argb);
  for (int row = 0; row < argb->h; ++row) {
    const auto* src = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(argb->pixels) +
                                                        row * argb->pitch);
    for (int col = 0; col < argb->w; ++col) {
      mask[static_cast<size_t>(row) * argb->w + col] = static_cast<uint8_t>(src[col] >> 24);
    }
  }
  SDL_UnlockSurface(argb);
  raster_blend_mask(surface, x, y, mask.data(), std::min(argb->w, width),
                    std::min(argb->h, cell_height), argb->w, front);
  SDL_FreeSurface(argb);
  return width;
}

int32_t font_use_config(const char* config_file) {
#ifdef FONT_CARRIED
  // The browser's one face is no configuration's.
  (void)config_file;
  return 0;
#else
  FcConfig* config = nullptr;
  if (config_file) {
    config = FcConfigCreate();
    if (!config) return 0;
    if (!FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(config_file), FcTrue) ||
        !FcConfigBuildFonts(config)) {
      FcConfigDestroy(config);
      return 0;
    }
  }
  if (FONTS.config) FcConfigDestroy(FONTS.config);
  FONTS.config = config;
  forget_default();
  return 1;
#endif
}

const char* font_file(FontHandle font) {
  if (font != 0) {
    if (Font* f = font_by_handle(font)) return f->file.c_str();
  }
  default_face();
  return FONTS.default_file.c_str();
}
