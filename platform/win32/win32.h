// The whole kernel-service layer.
#pragma once

#include "w32base.h"
#include "w32fiber.h"
#include "w32sync.h"
#include "w32thread.h"
#include "w32time.h"
