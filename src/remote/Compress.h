// A screen received from a remote peer as a JPEG file image.
#pragma once

#include <cstddef>
#include <cstdint>

struct Works;

// Decodes the JPEG in `data` into the drawing buffer of the framebuffer. An
// image of another size than the panel is cut to it (or fills its top left); an
// image that is not a JPEG, is damaged or is absurdly large is refused with a
// log line and leaves the picture as it was. True when a picture was drawn.
bool Uncompress(Works* works, const uint8_t* data, size_t length);
