#include "core/key_names.h"

#include <cctype>

namespace {

struct KeyName {
  int32_t code;
  const char* name;
};

// Every key of a standard keyboard the game can tell apart. Keypad Enter is left out: the game
// reads it as Enter.
constexpr KeyName KEY_NAMES[] = {
    {0x01, "ESCAPE"},      {0x02, "1"},           {0x03, "2"},
    {0x04, "3"},           {0x05, "4"},           {0x06, "5"},
    {0x07, "6"},           {0x08, "7"},           {0x09, "8"},
    {0x0A, "9"},           {0x0B, "0"},           {0x0C, "MINUS"},
    {0x0D, "EQUALS"},      {0x0E, "BACKSPACE"},   {0x0F, "TAB"},
    {0x10, "Q"},           {0x11, "W"},           {0x12, "E"},
    {0x13, "R"},           {0x14, "T"},           {0x15, "Y"},
    {0x16, "U"},           {0x17, "I"},           {0x18, "O"},
    {0x19, "P"},           {0x1A, "LEFTBRACKET"}, {0x1B, "RIGHTBRACKET"},
    {0x1C, "ENTER"},       {0x1D, "LCTRL"},       {0x1E, "A"},
    {0x1F, "S"},           {0x20, "D"},           {0x21, "F"},
    {0x22, "G"},           {0x23, "H"},           {0x24, "J"},
    {0x25, "K"},           {0x26, "L"},           {0x27, "SEMICOLON"},
    {0x28, "APOSTROPHE"},  {0x29, "GRAVE"},       {0x2A, "LSHIFT"},
    {0x2B, "BACKSLASH"},   {0x2C, "Z"},           {0x2D, "X"},
    {0x2E, "C"},           {0x2F, "V"},           {0x30, "B"},
    {0x31, "N"},           {0x32, "M"},           {0x33, "COMMA"},
    {0x34, "PERIOD"},      {0x35, "SLASH"},       {0x36, "RSHIFT"},
    {0x37, "KP_MULTIPLY"}, {0x38, "LALT"},        {0x39, "SPACE"},
    {0x3A, "CAPSLOCK"},    {0x3B, "F1"},          {0x3C, "F2"},
    {0x3D, "F3"},          {0x3E, "F4"},          {0x3F, "F5"},
    {0x40, "F6"},          {0x41, "F7"},          {0x42, "F8"},
    {0x43, "F9"},          {0x44, "F10"},         {0x45, "NUMLOCK"},
    {0x46, "SCROLLLOCK"},  {0x47, "KP_7"},        {0x48, "KP_8"},
    {0x49, "KP_9"},        {0x4A, "KP_MINUS"},    {0x4B, "KP_4"},
    {0x4C, "KP_5"},        {0x4D, "KP_6"},        {0x4E, "KP_PLUS"},
    {0x4F, "KP_1"},        {0x50, "KP_2"},        {0x51, "KP_3"},
    {0x52, "KP_0"},        {0x53, "KP_PERIOD"},   {0x56, "LESS"},
    {0x57, "F11"},         {0x58, "F12"},         {0x9D, "RCTRL"},
    {0xB5, "KP_DIVIDE"},   {0xB8, "RALT"},        {0xC7, "HOME"},
    {0xC8, "UP"},          {0xC9, "PAGEUP"},      {0xCB, "LEFT"},
    {0xCD, "RIGHT"},       {0xCF, "END"},         {0xD0, "DOWN"},
    {0xD1, "PAGEDOWN"},    {0xD2, "INSERT"},      {0xD3, "DELETE"},
};

bool same_name(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

const char* key_name(int32_t code) {
  for (const KeyName& key : KEY_NAMES) {
    if (key.code == code) return key.name;
  }
  return nullptr;
}

int32_t key_code(std::string_view name) {
  for (const KeyName& key : KEY_NAMES) {
    if (same_name(name, key.name)) return key.code;
  }
  return 0;
}

bool key_bindable(int32_t code) {
  if (code == KEY_CODE_ESCAPE || code == KEY_CODE_F2 || code == KEY_CODE_F ||
      code == KEY_CODE_LCTRL || code == KEY_CODE_RCTRL) {
    return false;
  }
  return key_name(code) != nullptr;
}
