#include "low.h"
