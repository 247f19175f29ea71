// The sound libraries (ALSA, JACK) print their own errors on standard error
// while PortAudio and RtMidi probe for devices: on a machine without a sound
// card that is some sixty lines. Their messages go through handlers of ours
// instead, which keep them quiet; the outputs say in one line of their own
// what matters.
#pragma once

// Installs the quiet handlers; harmless to call again.
void sound_libraries_quiet();
