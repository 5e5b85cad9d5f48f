// On a real X server without direct rendering (run under tests/support/with-xvfb, which is
// one): the screen must present through SDL's software renderer from the start, in the window
// it was given, without ever loading an OpenGL that could only be emulated on the processor.
// That emulation cost some 70 MB, two threads and 100 ms of start-up before the window showed.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "media/draw.h"
#include "media/events_internal.h"
#include "media/screen.h"
#include "media/window.h"

// Last: it brings Xlib's macros (None, Bool), which GoogleTest's headers must not meet.
#include <SDL_syswm.h>

namespace {

// Whether any library whose path contains part is mapped into this process.
bool mapped(const char* part) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

int threads_named(const char* prefix) {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    count += name.rfind(prefix, 0) == 0;
  }
  return count;
}

unsigned long x11_window(SDL_Window* window) {
  SDL_SysWMinfo wm;
  SDL_VERSION(&wm.version);
  if (!SDL_GetWindowWMInfo(window, &wm) || wm.subsystem != SDL_SYSWM_X11) return 0;
  return wm.info.x11.window;
}

}  // namespace

TEST(ScreenOnX11, SoftwareRendererWithoutOpenGLInTheSameWindow) {
  window_system_init();
  drawing_system_init();
  ASSERT_EQ(screen_system_init(), 1);
  ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
  ASSERT_NE(window_open(0, 0, 0, 640, 480, "Q-47 renderer", 0xCA0009), 0);
  SDL_Window* window = reinterpret_cast<SDL_Window*>(window_handle(0));
  const unsigned long before = x11_window(window);
  ASSERT_NE(before, 0u);
  ASSERT_EQ(screen_open_windowed(window_handle(0), 0, 0, 640, 480, 0, 0, 0), 1);
  screen_set_frame_rate(0);
  screen_clear(rgb(0, 0, 200));
  ASSERT_EQ(screen_flip(), 1);

  SDL_RendererInfo info;
  ASSERT_EQ(SDL_GetRendererInfo(SDL_GetRenderer(events_screen().window), &info), 0);
  EXPECT_STREQ(info.name, "software");
  EXPECT_EQ(x11_window(events_screen().window), before) << "the window was made anew";
  EXPECT_FALSE(mapped("libGLX_mesa")) << "an OpenGL context was tried";
  EXPECT_FALSE(mapped("libLLVM"));
  EXPECT_EQ(threads_named("llvmpipe"), 0);
  uint32_t shown = 0;
  const SDL_Rect corner{0, 0, 1, 1};
  ASSERT_EQ(SDL_RenderReadPixels(SDL_GetRenderer(events_screen().window), &corner,
                                 SDL_PIXELFORMAT_XBGR8888, &shown, 4),
            0);
  EXPECT_EQ(shown & 0xFFFFFF, rgb(0, 0, 200));

  window_system_shutdown();
  screen_system_shutdown();
  drawing_system_shutdown();
}
