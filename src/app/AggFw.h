// The start-up thread that clears the update marker /tmp/good.
#pragma once

struct Works;

void AggFWThread(Works* works);
