// The audio capture thread of remote operation.
#pragma once

#include <alsa/asoundlib.h>
#include <cstdint>

struct Works;

void th_leggi(Works* works);
// A mono block made stereo in place: a, b, c becomes a, a, b, b, c, c. The
// buffer holds 2 x `frames` samples.
void WidenToStereo(int16_t* samples, int frames);
// The capture thread's failure: error 9, the device closed, a remote restart
// asked for, its byte '0'.
void ExitAUDIOread(Works* works, snd_pcm_t** pcm);
