// Helper of the input-fault tests: sends a window the close request a window manager sends
// (WM_DELETE_WINDOW), which xdotool cannot.
//   input_faults_tool close WINDOW_ID
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "close") != 0) {
    std::fprintf(stderr, "usage: input_faults_tool close WINDOW_ID\n");
    return 2;
  }
  char* end = nullptr;
  const unsigned long window = std::strtoul(argv[2], &end, 0);
  if (!end || *end != '\0' || window == 0) {
    std::fprintf(stderr, "input_faults_tool: '%s' is no window id\n", argv[2]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "input_faults_tool: cannot open the display\n");
    return 1;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XCloseDisplay(display);
  return sent ? 0 : 1;
}
