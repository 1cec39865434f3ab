// The amplifier link thread.
#pragma once

struct Works;

void Linear(Works* works);
