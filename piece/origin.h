// The piece's start time, shared by its display and audio sides: display
// milliseconds at which scene time 0 falls; 0 until the display sets it.
#pragma once

double piece_origin_ms();
void piece_set_origin_ms(double ms);
