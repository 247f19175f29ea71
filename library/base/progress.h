// Progress of an offline render, on standard error: one line that updates in
// place when that is a terminal, else a plain line every ten seconds.
#pragma once
#include <cstdio>

struct render_progress {
  double total_ms;     // of output time to render; 0 when unknown
  double frame_ms;     // one frame's output time
  double started_at;   // wall clock of the first frame
  double printed_at;   // wall clock of the last line
  long frames;
  int terminal;        // standard error is a terminal
  int printed;         // a line is on the terminal, not yet ended
  FILE* out;
};

// Ready to count frames of `frame_ms` each, `total_ms` in all (0: unknown).
void progress_start(render_progress* p, double total_ms, double frame_ms);
// One more frame rendered; prints when a line is due.
void progress_frame(render_progress* p);
// The last line, with the time the whole render took.
void progress_finish(render_progress* p);
