// The FT-817 CAT frequency poll thread.
#pragma once

struct Works;

void CatSerial(Works* works);
