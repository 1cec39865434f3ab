// The screen refresh thread.
#pragma once

struct Works;

void timer(Works* works);
