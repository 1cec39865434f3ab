// The transceiver CAT relay thread.
#pragma once

struct Works;

void Cat(Works* works);
