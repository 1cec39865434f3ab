// The USB panadapter receiver thread.
#pragma once

struct Works;

void TAVRead(Works* works);
