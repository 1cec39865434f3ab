// The panel keys and converter thread.
#pragma once

struct Works;

void GPIO(Works* works);
