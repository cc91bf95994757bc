#include "right.h"
#include "left.h"
