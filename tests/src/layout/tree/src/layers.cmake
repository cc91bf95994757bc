set(HLC_LAYERS src/low src/high)
set(HLC_LAYER_CROSSINGS
  src/low/allowed.cpp:high.h
  src/low/gone.cpp:high.h)
