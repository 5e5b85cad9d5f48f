// The game pad: SDL's game controllers, the first one connected at a time.
#include "media/pad.h"

#include <SDL.h>

#include "media/events_internal.h"

namespace {

struct PadState {
  int32_t initialised = 0;             // pad_init took SDL's controller support
  SDL_GameController* open = nullptr;  // the pad read; null while none is connected
  SDL_JoystickID open_id = -1;         // its instance id, to tell its removal
  uint32_t serial = 0;                 // the events_pump whose arrivals were taken
};

PadState PAD;

struct PadButton {
  SDL_GameControllerButton sdl;
  uint32_t bit;
};

constexpr PadButton PAD_BUTTONS[] = {
    {SDL_CONTROLLER_BUTTON_A, PAD_A},
    {SDL_CONTROLLER_BUTTON_B, PAD_B},
    {SDL_CONTROLLER_BUTTON_X, PAD_X},
    {SDL_CONTROLLER_BUTTON_Y, PAD_Y},
    {SDL_CONTROLLER_BUTTON_BACK, PAD_BACK},
    {SDL_CONTROLLER_BUTTON_START, PAD_START},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, PAD_LEFT_SHOULDER},
    {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, PAD_RIGHT_SHOULDER},
    {SDL_CONTROLLER_BUTTON_DPAD_UP, PAD_UP},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, PAD_DOWN},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, PAD_LEFT},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, PAD_RIGHT},
};

void close_pad() {
  if (PAD.open) SDL_GameControllerClose(PAD.open);
  PAD.open = nullptr;
  PAD.open_id = -1;
}

// Opens the first device SDL knows as a game controller, if any.
void open_first() {
  for (int index = 0; index < SDL_NumJoysticks(); ++index) {
    if (!SDL_IsGameController(index)) continue;
    PAD.open = SDL_GameControllerOpen(index);
    if (!PAD.open) continue;
    PAD.open_id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(PAD.open));
    return;
  }
}

int32_t stick(SDL_GameControllerAxis axis) {
  const int32_t value = SDL_GameControllerGetAxis(PAD.open, axis);
  return value > -PAD_DEAD_ZONE && value < PAD_DEAD_ZONE ? 0 : value;
}

}  // namespace

int32_t pad_init() {
  if (PAD.initialised) return 1;
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) return 0;
  PAD.initialised = 1;
  PAD.serial = events_frame().serial;
  // A pad plugged in before the game started sends its arrival too, but open it now so the
  // first frame already reads it.
  open_first();
  return 1;
}

void pad_shutdown() {
  if (!PAD.initialised) return;
  close_pad();
  SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
  PAD = PadState{};
}

PadRecord pad_examine() {
  PadRecord record;
  if (!PAD.initialised) return record;
  const EventsFrame& frame = events_frame();
  if (frame.serial != PAD.serial) {
    PAD.serial = frame.serial;
    for (int32_t removed : frame.pads_removed) {
      if (removed == PAD.open_id) close_pad();
    }
  }
  // Another pad still plugged in takes over from one that went; and a pad whose arrival came in
  // a pump no examine followed (a shell that drops a waiting page's stale input) is found too.
  if (!PAD.open && SDL_NumJoysticks() > 0) open_first();
  if (PAD.open && !SDL_GameControllerGetAttached(PAD.open)) close_pad();
  if (!PAD.open) return record;
  record.connected = 1;
  for (const PadButton& button : PAD_BUTTONS) {
    if (SDL_GameControllerGetButton(PAD.open, button.sdl)) record.buttons |= button.bit;
  }
  record.stick_x = stick(SDL_CONTROLLER_AXIS_LEFTX);
  record.stick_y = stick(SDL_CONTROLLER_AXIS_LEFTY);
  return record;
}
