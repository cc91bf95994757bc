#include "low.h"
#include "high.h"
