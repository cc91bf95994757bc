# The layers of the library, lowest first (src/README.md draws them).  A file may include
# headers of its own layer and of the layers below it; a higher layer is reached only
# through the hook tables that the wiring fills.  Checked by scripts/check_layers.cmake
# (the test layout_layers).
set(HLC_LAYERS
  # The base: the library's own definitions, the public numbers, the register map, and the
  # platform's interface folders (hardware accessor and device requests, Win32, file
  # guard, TIFF and console stand-ins, settings store).
  "include|src/common|src/hw/regmap|platform/board/api|platform/win32|platform/fileguard|platform/tiff|platform/console|platform/registry"
  src/common/task
  src/common/timer
  src/common/ll
  src/host/ll
  src/common/ll/core
  src/common/msg
  src/common/ll/serve
  src/common/ll/dig
  src/common/hl
  src/cbinding
  src/common/wiring)

# Upward includes that remain until their code has moved to its layer: "<file>:<header>".
set(HLC_LAYER_CROSSINGS
  # src/host/ll
  src/host/ll/bringup.cpp:hlc_wiring.h)

# Upward links between the static parts that remain: "<part>:<linked part>".  The host
# platform's first bring-up wires a library that was not wired when it was loaded.
set(HLC_LINK_CROSSINGS
  hlc_host_ll:hlc_wiring)
