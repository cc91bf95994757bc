// A room of the middle layer.
#pragma once
#include "low.h"
