# The layers of the library, lowest first (src/README.md draws them).  A file may include
# headers of its own layer and of the layers below it; a higher layer is reached only
# through the hook tables that the wiring fills.  Folders joined by "&" are rooms of one
# layer: each uses the layers below it, never the room beside it.  Checked by
# scripts/check_layers.cmake (the test layout_layers).
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
  # The grab modules: what both families share; the standard family with the host grab;
  # the second family, which stands on the standard family (it takes its grab channels
  # through the standard channel taking, grbSetDig and cleanGrab, and has its grab-engine
  # register image computed by the standard Orlo programming, grbComputeImage); and above
  # them the dispatch that routes each request to the node's family.
  src/common/ll/dig/shared
  src/common/ll/dig/std
  src/common/ll/dig/kvx
  src/common/ll/dig
  src/common/hl
  src/cbinding
  src/common/wiring)

# Upward includes, and includes between rooms, that remain until their code has moved to
# its layer: "<file>:<header>" (none remain).
set(HLC_LAYER_CROSSINGS)

# Upward links between the static parts, and links between rooms, that remain:
# "<part>:<linked part>" (none remain).
set(HLC_LINK_CROSSINGS)
