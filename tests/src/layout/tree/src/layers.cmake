set(HLC_LAYERS src/low "src/left&src/right" src/high)
set(HLC_LAYER_CROSSINGS
  src/low/allowed.cpp:high.h
  src/low/gone.cpp:high.h)
set(HLC_LINK_CROSSINGS
  t_gone:t_high)
