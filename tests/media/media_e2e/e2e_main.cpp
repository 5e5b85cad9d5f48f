// End to end on a real X server (run under tests/support/with-xvfb): the media layer opens
// the game's window, draws and flips at 50 frames per second, while xwininfo, xdotool and
// ImageMagick's import look at and drive it from outside, as a player's desktop would.
// Exit code 0 when every check passed.
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "media/draw.h"
#include "media/events.h"
#include "media/keyboard.h"
#include "media/mouse.h"
#include "media/screen.h"
#include "media/window.h"

namespace {

constexpr const char* TITLE = "Q-47 media e2e : Ctrl+F for fullscreen";
constexpr int WIDTH = 640;
constexpr int HEIGHT = 480;
constexpr int WAIT_FRAMES = 100;  // up to 2 s for the X server to deliver what xdotool did

int passed = 0;
int failed = 0;
int close_events = 0;  // EVENT_CLOSE_WINDOW seen so far
bool full_screen = false;

void check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  ++(ok ? passed : failed);
}

std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

// The number after "label" in text (xwininfo's and xdotool's way of printing), or -1.
long number_after(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  return std::strtol(text.c_str() + at + label.size(), nullptr, 0);
}

// The picture: flat colours with edges that land on known pixels, a circle and a line of text.
void draw_picture() {
  screen_clear(rgb(20, 30, 60));
  if (!draw_begin(screen_output())) return;
  draw_box(0, 0, 80, 480, rgb(0, 128, 0));
  draw_box(100, 100, 200, 100, rgb(250, 40, 40));
  draw_set_mode(DRAW_OUTLINED);
  draw_box(320, 240, 100, 60, rgb(255, 255, 255));
  draw_set_mode(0);
  draw_circle(500, 120, 30, rgb(255, 255, 0));
  draw_text(100, 300, "THE CHEMICAL IS CONTAINED", rgb(0, 255, 255));
  draw_end();
}

// One frame as the game runs it.
void frame() {
  events_pump();
  if (!full_screen) {
    for (int code; (code = window_poll_event()) != 0;) close_events += code == EVENT_CLOSE_WINDOW;
  }
  if (screen_is_active()) {
    if (!full_screen) mouse_release(0);
    mouse_examine();
    keyboard_examine();
  } else if (!full_screen) {
    mouse_release(1);
  }
  draw_picture();
  screen_flip();
}

void frames(int n) {
  for (int i = 0; i < n; ++i) frame();
}

// Runs frames until condition holds (or the wait runs out); whether it held.
bool frames_until(const std::function<bool()>& condition) {
  for (int i = 0; i < WAIT_FRAMES; ++i) {
    frame();
    if (condition()) return true;
  }
  return false;
}

// A screenshot of an X window (or the root) as 0x00BBGGRR pixels.
std::vector<uint32_t> screenshot(const std::string& window, int w, int h) {
  const std::string file = "/tmp/q47-e2e-" + std::to_string(getpid()) + ".rgb";
  run("import -window " + window + " -depth 8 rgb:" + file + " 2>&1");
  std::ifstream in(file, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
  std::remove(file.c_str());
  std::vector<uint32_t> pixels;
  if (bytes.size() != static_cast<size_t>(w) * h * 3) return pixels;
  for (size_t i = 0; i < bytes.size(); i += 3)
    pixels.push_back(rgb(bytes[i], bytes[i + 1], bytes[i + 2]));
  return pixels;
}

// Asks the window to close the way a window manager does when its close box is clicked.
void request_close(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XCloseDisplay(display);
}

void check_key(const std::string& name, int code) {
  run("xdotool keydown " + name);
  const bool held = frames_until([code] { return key_down(code) == 128; });
  check(held && key_released(code) == 0, name + " held reads as scan code " + std::to_string(code));
  run("xdotool keyup " + name);
  const bool up = frames_until([code] { return key_down(code) == 0; });
  check(up && key_released(code) == 1 && key_released(code) == 0,
        name + " released is reported once");
}

void check_pointer_at(const std::string& window, int x, int y, int expect_x, int expect_y) {
  run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y));
  const bool there = frames_until([&] { return mouse_x() == expect_x && mouse_y() == expect_y; });
  check(there, "virtual pointer follows to (" + std::to_string(expect_x) + ", " +
                   std::to_string(expect_y) + "), got (" + std::to_string(mouse_x()) + ", " +
                   std::to_string(mouse_y()) + ")");
}

void windowed_checks() {
  check(window_open(0, 0, 0, WIDTH, HEIGHT, TITLE, 0xCA0009) != 0, "window opens");
  check(screen_open_windowed(window_handle(0), 0, 0, WIDTH, HEIGHT, 0, 0, 0) == 1,
        "screen opens in it");
  screen_set_frame_rate(50);
  check(frames_until([] { return screen_is_active() == 1; }), "window has the input focus");

  const std::string info = run(std::string("xwininfo -name '") + TITLE + "'");
  const unsigned long id = static_cast<unsigned long>(number_after(info, "Window id: "));
  const std::string window = std::to_string(id);
  check(id != 0, "xwininfo finds the window by its title");
  check(number_after(info, "Width: ") == WIDTH && number_after(info, "Height: ") == HEIGHT,
        "client area is 640 x 480");
  const std::string root = run("xwininfo -root");
  const long root_w = number_after(root, "Width: "), root_h = number_after(root, "Height: ");
  const long left = number_after(info, "Absolute upper-left X: ");
  const long top = number_after(info, "Absolute upper-left Y: ");
  check(left == (root_w - WIDTH) / 2 && top == (root_h - HEIGHT) / 2, "window is centred");

  frames(5);
  const std::vector<uint32_t> shot = screenshot(window, WIDTH, HEIGHT);
  const uint32_t* back = screen_pixels();
  int differing = shot.empty() ? -1 : 0;
  for (size_t i = 0; i < shot.size(); ++i) differing += shot[i] != back[i];
  check(differing == 0,
        "screenshot equals the back buffer (" + std::to_string(differing) + " pixels differ)");

  check_key("r", KEY_R);
  check_key("Return", KEY_RETURN);
  check_key("Escape", KEY_ESCAPE);
  check_key("Control_R", KEY_RCONTROL);
  check_key("Up", 0xC8);

  check_pointer_at(window, 100, 50, 100, 50);
  check_pointer_at(window, 600, 400, 600, 400);
  run("xdotool mousemove 5000 5000");  // confined to the window: stops at its corner
  check(frames_until([] { return mouse_x() == WIDTH - 1 && mouse_y() == HEIGHT - 1; }),
        "pointer stays in the window");

  run("xdotool mousedown 1");
  check(frames_until([] { return mouse_button(1) == 1; }), "left button held");
  run("xdotool mouseup 1");
  check(frames_until([] { return mouse_button(1) == 0; }), "left button released");
  run("xdotool mousedown 3");
  check(frames_until([] { return mouse_button(2) == 1; }), "right button is button 2");
  run("xdotool mouseup 3");
  frames_until([] { return mouse_button(2) == 0; });

  // The system pointer is put on the virtual one; the warp must not move the virtual one.
  mouse_locate(320, 240);
  frames(10);
  const std::string where = run("xdotool getmouselocation");
  check(number_after(where, "x:") == left + 320 && number_after(where, "y:") == top + 240,
        "system pointer moved onto the virtual pointer");
  check(mouse_x() == 320 && mouse_y() == 240, "virtual pointer not moved by the warp (" +
                                                  std::to_string(mouse_x()) + ", " +
                                                  std::to_string(mouse_y()) + ")");
  check_pointer_at(window, 330, 250, 330, 250);

  request_close(id);
  frames_until([] { return close_events > 0; });
  frames(10);
  check(close_events == 1,
        "close request gives EVENT_CLOSE_WINDOW once (" + std::to_string(close_events) + ")");
  check(window_handle(0) != 0 &&
            run(std::string("xwininfo -name '") + TITLE + "' 2>&1").find("Window id") !=
                std::string::npos,
        "window stays open after the close request");
}

void full_screen_checks() {
  mouse_release(1);
  screen_close();
  window_close(0);
  full_screen = true;
  check(screen_open_full(WIDTH, HEIGHT, 32, "Q-47 media e2e") == 1, "full screen opens");
  mouse_release(0);  // the game takes the mouse back after switching
  screen_set_frame_rate(50);
  check(frames_until([] { return screen_is_active() == 1; }), "full screen is active");
  frames(5);
  const std::string root = run("xwininfo -root");
  const int root_w = static_cast<int>(number_after(root, "Width: "));
  const int root_h = static_cast<int>(number_after(root, "Height: "));
  const std::vector<uint32_t> shot = screenshot("root", root_w, root_h);
  check(!shot.empty(), "full-screen screenshot taken");
  if (!shot.empty()) {
    // The picture keeps its 4:3 shape: scaled to the desktop's width or height, black bars
    // on the other sides.
    const double scale =
        std::min(static_cast<double>(root_w) / WIDTH, static_cast<double>(root_h) / HEIGHT);
    const int shown_w = static_cast<int>(WIDTH * scale + 0.5);
    const int shown_h = static_cast<int>(HEIGHT * scale + 0.5);
    const int off_x = (root_w - shown_w) / 2, off_y = (root_h - shown_h) / 2;
    auto at = [&](int x, int y) { return shot[static_cast<size_t>(y) * root_w + x]; };
    check(off_x > 0 || off_y > 0, "desktop shape differs from 4:3 (bars expected)");
    if (off_y > 0) {
      check(at(root_w / 2, off_y - 1) == 0 && at(root_w / 2, root_h - off_y) == 0 &&
                at(root_w / 2, off_y) != 0 && at(0, root_h / 2) == rgb(0, 128, 0),
            "black bars above and below, the picture between them");
    }
    if (off_x > 0) {
      check(at(off_x - 1, root_h / 2) == 0 && at(root_w - off_x, root_h / 2) == 0 &&
                at(off_x, root_h / 2) == rgb(0, 128, 0),
            "black bars left and right, the picture between them");
    }
    const uint32_t* back = screen_pixels();
    int differing = 0;
    const int samples[][2] = {{40, 240}, {150, 150}, {320, 240}, {500, 120}, {600, 20}, {5, 5}};
    for (const auto& s : samples) {
      const int sx = off_x + static_cast<int>((s[0] + 0.5) * scale);
      const int sy = off_y + static_cast<int>((s[1] + 0.5) * scale);
      differing += at(sx, sy) != back[s[1] * WIDTH + s[0]];
    }
    check(differing == 0, "full-screen picture is the back buffer scaled");
  }
  check_key("space", KEY_SPACE);
  check_key("Control_L", KEY_LCONTROL);
  run("xdotool mousedown 1");
  check(frames_until([] { return mouse_button(1) == 1; }), "left button held in full screen");
  run("xdotool mouseup 1");
  check(frames_until([] { return mouse_button(1) == 0; }), "left button released in full screen");
  // Relative mode: the raw motion moves the virtual pointer, whatever the hidden pointer does.
  const int from_x = mouse_x(), from_y = mouse_y();
  run("xdotool mousemove_relative -- -30 20");
  check(frames_until([&] { return mouse_x() == from_x - 30 && mouse_y() == from_y + 20; }),
        "relative motion moves the virtual pointer in full screen");
  screen_close();
}

}  // namespace

int main() {
  window_system_init();
  drawing_system_init();
  if (!screen_system_init() || !mouse_init() || !keyboard_init()) {
    std::fputs("media e2e: no display\n", stderr);
    return 1;
  }
  windowed_checks();
  full_screen_checks();
  window_system_shutdown();
  mouse_shutdown();
  keyboard_shutdown();
  screen_system_shutdown();
  drawing_system_shutdown();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
