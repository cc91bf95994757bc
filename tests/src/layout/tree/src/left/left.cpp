// A room's own file: includes its room and the layers below.
#include "left.h"
