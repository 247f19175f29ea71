// Function tables: rows of floats keyed by column 0 (a time in milliseconds
// for envelopes, a frame index for sound), the other columns being channels.
// A sequence (ftable_env) reads a table along its key, interpolating every
// channel linearly between the rows that enclose the current key.
#pragma once
#include <cstdint>

#include <zeal/base/array.h>
#include <zeal/base/stream.h>

enum {
  FTABLE_LOOP = 1,
  FTABLE_LINEAR = 2,
  FTABLE_CUBIC = 4,  // needs FTABLE_LINEAR as well
};

struct ftable {
  array rows;     // floats, `width` per row, keys ascending
  int32_t width;  // key column plus channels
  float rate;     // 1.0 by hand, the sample rate for sound files
};

// The reader of one channel.
struct ftable_range {
  ftable* table;  // not owned
  uint32_t flags;
  uint32_t mask[2];  // bit c selects column c; low word first
  float position;    // rows
  float speed;       // rows per step
  float loop_start;  // row
  float end;         // row count
};

struct ftable_env {
  int32_t valid;
  int32_t error;  // 1 keys not strictly increasing, 3 a NaN key
  ftable* table;  // not owned
  int32_t mode;   // FTABLE_LOOP, and under mask 30 the interpolation (2 linear)
  uint32_t mask[2];
  int32_t key;      // key column
  float position;   // key units
  float speed;      // key units per step
  float start;      // key
  float end;        // key
  ftable_range* first;
  array readers;  // ftable_range, one per column; owned
};

// Rows as seen by readers: -1 for a failed table.
int32_t ftable_rows(const ftable* table);
// Stores `value` in column `channel` (1 .. width - 1) at `key`: into the row
// with that key (within 0.000001, absolute or relative), else into a new row
// in key order whose other channels hold NaN.
void ftable_add_point(ftable* table, int32_t channel, float key, float value);
void ftable_print(const ftable* table);
// Frees the rows and clears the table.
void ftable_free(ftable* table);

// `env` must be zero-filled or made before. Reports failures in `valid` and
// `error` only; ftable_env_check prints them.
void ftable_env_make(ftable_env* env, ftable* table);
// Prints "ERROR: Sequence has failed ..." or "ERROR: Sequence is empty" and
// returns 0 when the sequence cannot play, else 1.
int ftable_env_check(const ftable_env* env);
void ftable_env_free(ftable_env* env);
// Advances the channel's reader to the current key and writes out[channel];
// false (out untouched) past the last row.
bool ftable_env_range_channelfront(ftable_env* env, int32_t channel, float* out);
// Samples every channel at the current key into `out`, packed by the output
// mask; leaves `out` as it was when no channel has a value.
void ftable_env_range_front(ftable_env* env, float* out);

// Replaces the table with the frames of the sound file in `s` (one row per
// frame, one column per channel); `name` names the file in error lines. A
// file that cannot be decoded, or whose frames would not fit a table, leaves
// the table empty with an "ERROR:" line; one whose frames cannot all be
// read, with a "WARNING:" line saying how many could. What closing the file
// returns: 0 when all went well, else a libsndfile error code (a failure
// whenever the table is left empty).
int ftable_make_on_stream(ftable* table, stream** s, const char* name = nullptr);
