#include "simonly.h"
#include <vector>
