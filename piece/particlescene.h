// The particle scene's camera: a slow closed path around the vertical axis,
// looking at (0, 0, 0.25). The particles face the same eye.
#pragma once

#include "piece/vec4.h"

// Eye position for a camera time (the scene time times the speed ramp); w = 0.
vec4 particlescene_cpos(double camera_time);
