// What the piece's streams share, held in the app's slot: the score, the
// start time of the scene, and the display's lasting resources.
#pragma once
#include <atomic>

#include "piece/ftable.h"

struct App;
struct scene_resources;

struct piece_shared {
  ftable score;
  // Display milliseconds at which scene time 0 falls; 0 until the display
  // sets it. Written once by the display thread, read by the audio thread.
  std::atomic<double> origin_ms;
  scene_resources* resources;  // made on the first display begin
};

// The app slot's record; null before the app's begin has made it.
piece_shared* piece_of(const App* app);
double piece_origin_ms(const App* app);
void piece_set_origin_ms(App* app, double ms);
