// Words of the node information that the grab-module drivers of both families, and the
// dispatch above them, read.
#pragma once

#include "nodeopen.h"

#include <cstddef>
#include <cstdint>

// Words of the node information (the node state from word 25 on) that the grab-module
// drivers read: the module type (state word 289), the module-present and module-loaded
// flags and the camera-UART area word.
constexpr uint32_t kNodeInfoModuleType = (offsetof(_NODE_ST, moduleType) - offsetof(_NODE_ST, nodeInfo)) / 4;
constexpr uint32_t kNodeInfoModulePresent = (offsetof(_NODE_ST, modulePresent) - offsetof(_NODE_ST, nodeInfo)) / 4;
constexpr uint32_t kNodeInfoModuleLoaded = (offsetof(_NODE_ST, moduleLoaded) - offsetof(_NODE_ST, nodeInfo)) / 4;
constexpr uint32_t kNodeInfoUartArea = (offsetof(_NODE_ST, uartArea) - offsetof(_NODE_ST, nodeInfo)) / 4;
