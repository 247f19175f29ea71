// The steps of the main sequence that belong to each output. Each output's
// glue lives in its own file (app_audio.cpp, app_display.cpp, app_midi.cpp,
// app_control.cpp); an output that is not available clears its stream bit.
#pragma once
#include <cstdint>
#include <string>

struct App;

int app_display_make(App* app);                  // makes the display I/O; 0 without a display
void app_audio_make(App* app);                   // makes the audio I/O
void app_midi_setup(App* app, uint32_t flags);   // MIDI devices, or clears 16 / 32
void app_audio_setup(App* app);                  // chooses, names and attaches the device
void app_display_setup(App* app);                // the same for the display
void app_control_setup(App* app, uint32_t flags);  // the control bus
void app_background_start(App* app);
void app_midi_commit(App* app);
void app_control_thread_start(App* app);
int app_audio_commit(App* app);                  // 0 when a rendered file cannot be written
void app_audio_start_clock(App* app);            // the clock, when no display starts it
void app_display_run(App* app);                  // returns once a stop is raised
void app_audio_finish(App* app);
void app_midi_finish(App* app);
void app_control_finish(App* app);
void app_display_finish(App* app);               // frees the display I/O if it never ran
// The clock time a display frame begun now would have (0 before the clock rolls).
double app_display_now(const App* app);
void app_background_wait(App* app);

// Rendering: the directory is made and checked, or the film opened and given
// to the outputs; 0 (after an ERROR line) when the target cannot be written
// or the range starts after the piece's known end (status 2).
int app_render_prepare(App* app);
// Finishes the film, if any, once the outputs have ended; a range that no
// output reached is a WARNING and status 1.
void app_render_finish(App* app);
// The path and name stem of rendered files: DIR/name, "-draft" for drafts.
std::string app_render_stem(const App* app);

// SIGINT and SIGTERM raise the app's stop (status 0) while the main sequence
// runs; blocked in every thread it starts, and taken by a thread of its own.
void app_signals_start(App* app);
void app_signals_stop(App* app);

// The runtime's audio frame callback (registered with the audio device).
struct audio_frame;
void audiofn(void* app, audio_frame* frame);
