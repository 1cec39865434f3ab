// The audio capture thread of remote operation.
#pragma once

struct Works;

void th_leggi(Works* works);
