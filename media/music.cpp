// Placeholder until the Ogg decoder lands.
#include "media/music.h"

void ogg_decoder_enable() {}
