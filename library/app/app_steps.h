// The steps of the main sequence that belong to each output. Each output's
// glue lives in its own file (app_audio.cpp, app_display.cpp, app_midi.cpp,
// app_control.cpp); an output that is not available clears its stream bit.
#pragma once
#include <cstdint>

struct App;

void app_display_make(App* app);                 // makes the display I/O
void app_audio_make(App* app);                   // makes the audio I/O
void app_midi_setup(App* app, uint32_t flags);   // MIDI devices, or clears 16 / 32
void app_audio_setup(App* app);                  // chooses, names and attaches the device
void app_display_setup(App* app);                // the same for the display
void app_control_setup(App* app, uint32_t flags);  // the control bus
void app_background_start(App* app);
void app_midi_commit(App* app);
void app_control_thread_start(App* app);
void app_audio_commit(App* app);
void app_display_run(App* app);                  // normally does not return
void app_audio_finish(App* app);
void app_midi_finish(App* app);
void app_control_finish(App* app);
void app_background_wait(App* app);
// Starts the thread that turns SIGINT and SIGTERM into app_exit(0).
void app_signal_start();
// The runtime's audio frame callback (registered with the audio device).
struct audio_frame;
void audiofn(void* app, audio_frame* frame);

// Work that must be done before the process exits from any thread (closing a
// file being written, for instance). Runs once, latest registration first.
using app_exit_hook = void (*)(void* arg);
void app_at_exit(app_exit_hook hook, void* arg);
// Runs the exit hooks, flushes standard output and ends the process without
// running static destructors under the feet of threads that still run.
[[noreturn]] void app_exit(int status);
