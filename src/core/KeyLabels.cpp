// The label table of the key pages.
#include "core/KeyLabels.h"

KeyLabelPage KeyLabels[kKeyPages];
