// The audio playback thread of remote operation.
#pragma once

struct Works;

void th_scrivi(Works* works);
