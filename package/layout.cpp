// The marker's one definition (see layout.h for why there must be only one).
#include "package/layout.h"

const char SegmentMarker[kMarkerSize + 1] = "<iiiiiiiiiii>";
