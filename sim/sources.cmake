set(SIM_SOURCES
  sim/firmware.cpp
)
