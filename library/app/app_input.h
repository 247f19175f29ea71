// The runtime's callbacks and thread bodies for MIDI and control input.
#pragma once
#include <cstdint>

struct App;

// Data bytes of one packet that the MIDI-in callback decodes at most.
constexpr int32_t APP_MIDI_IN_BYTES = 4096;

// MIDI-in callback (argument: the app): decodes the packet onto the control
// bus, then runs the MIDI-in stream's two-call step. What it cannot hand on
// (bytes beyond the bound, events on a full bus) it only counts.
void app_midifn(void* app, const uint8_t* packet);
// Prints, once per run, the "WARNING:" line about what the MIDI-in callback
// counted, when it counted anything. Never called from a real-time thread.
void app_midi_report(App* app);
// The MIDI-out channel's time: its position less the 500 ms latency.
double midiout_telltime(void* app);
// Calls the MIDI-out stream 3640 times a second of its position.
void* midiout_thread(void* app);
// Runs the control tick every 5 ms when no audio or display output does.
void* controlin_thread(void* app);
// The CONTROL_IN channel's time: the wall clock.
double time_now(void* arg);
