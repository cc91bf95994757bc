#pragma once
#include "low.h"
