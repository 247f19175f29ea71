#include "piece/ftable.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/base/stream_sndfile.h>

static const int32_t kFloat = static_cast<int32_t>(sizeof(float));
static const int32_t kRangeWidth = static_cast<int32_t>(sizeof(ftable_range));

// Rows and scratch rows of up to this many columns live on the stack, so that
// sampling the score allocates nothing.
enum { kLocalColumns = 64 };

struct scratch_row {
  float local[kLocalColumns];
  float* heap;
};

static float* scratch_get(scratch_row* s, int32_t columns) {
  s->heap = nullptr;
  if (columns <= kLocalColumns) return s->local;
  s->heap = static_cast<float*>(malloc(sizeof(float) * static_cast<size_t>(columns)));
  return s->heap;
}

static void scratch_free(scratch_row* s) {
  free(s->heap);
}

static float quiet_nan() {
  uint32_t bits = 0x7FC00000u;
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

static int column_selected(const uint32_t mask[2], int32_t column) {
  if (column >= 64) return mask[0] == 0xFFFFFFFFu && mask[1] == 0xFFFFFFFFu;
  return (mask[column >> 5] >> (column & 31)) & 1u;
}

static float* row_at(const ftable* table, int32_t row) {
  return static_cast<float*>(table->rows.data) + static_cast<int64_t>(row) * table->width;
}

int32_t ftable_rows(const ftable* table) {
  if (table->width <= 0) return 0;
  return array_count(&table->rows, kFloat * table->width);
}

static int same_key(float k, float key) {
  if (fabsf(k - key) < 0.000001f) return 1;
  float relative = fabsf(key) > fabsf(k) ? fabsf((key - k) / key) : fabsf((k - key) / k);
  return relative < 0.000001f;
}

void ftable_add_point(ftable* table, int32_t channel, float key, float value) {
  int32_t width = table->width;
  // The key column is not a channel, and a column outside the row would be
  // written into the next row.
  if (width <= 0 || channel < 1 || channel >= width) return;
  int32_t n = ftable_rows(table);
  if (n < 0) return;
  if (array_allocate(&table->rows, kFloat, (n + 1) * width) == nullptr) return;
  int32_t i = 0;
  while (i < n && !(row_at(table, i)[0] >= key)) ++i;
  int32_t count = n;
  if (i < n && same_key(row_at(table, i)[0], key)) {
    row_at(table, i)[channel] = value;
  } else {
    if (i < n) {
      memmove(row_at(table, i + 1), row_at(table, i),
              sizeof(float) * static_cast<size_t>(n - i) * static_cast<size_t>(width));
    }
    float* row = row_at(table, i);
    row[0] = key;
    for (int32_t c = 1; c < width; ++c) row[c] = c == channel ? value : quiet_nan();
    count = n + 1;
  }
  array_truncate(&table->rows, kFloat, count * width);
}

void ftable_print(const ftable* table) {
  printf("[");
  int32_t n = ftable_rows(table);
  for (int32_t r = 0; r < n; ++r) {
    for (int32_t c = 0; c < table->width; ++c) {
      const char* prefix = c > 0 ? ", " : (r > 0 ? "\n" : "");
      printf("%s%.4f", prefix, static_cast<double>(row_at(table, r)[c]));
    }
  }
  printf("]\n");
}

void ftable_free(ftable* table) {
  array_reset(&table->rows);
  *table = ftable{};
}

// Row `p` (fractional, wrapped to the table) of the columns in `mask`,
// packed in column order, interpolated as `flags` ask.
static void read_row(const ftable* table, uint32_t flags, const uint32_t mask[2], float p,
                     float* out) {
  int32_t count = ftable_rows(table);
  if (count <= 0) return;
  double whole = std::isfinite(p) ? floor(static_cast<double>(p)) : 0.0;
  float f = std::isfinite(p) ? p - static_cast<float>(whole) : 0.0f;
  int32_t i = static_cast<int32_t>(fmod(whole, static_cast<double>(count)));
  if (i < 0) i += count;
  const float* y1 = row_at(table, i);
  const float* y2 = row_at(table, (i + 1) % count);
  const float* y0 = row_at(table, i == 0 ? count - 1 : i - 1);
  const float* y3 = row_at(table, (i + 2) % count);
  int32_t k = 0;
  for (int32_t c = 0; c < table->width; ++c) {
    if (!column_selected(mask, c)) continue;
    float value = y1[c];
    if ((flags & FTABLE_LINEAR) && (flags & FTABLE_CUBIC)) {
      float a0 = y3[c] - y2[c] - y0[c] + y1[c];
      float a1 = y0[c] - y1[c] - a0;
      value = a0 * f * f * f + a1 * f * f + (y2[c] - y0[c]) * f + y1[c];
    } else if (flags & FTABLE_LINEAR) {
      value = y1[c] + f * (y2[c] - y1[c]);
    }
    out[k++] = value;
  }
}

static float clampf(float v, float lo, float hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// Moves `x` back below `hi` by whole loop lengths.
static float wrap_below(float x, float lo, float hi) {
  while (x >= hi) {
    float next = x - (hi - lo);
    if (!(next < x)) break;
    x = next;
  }
  return x;
}

bool ftable_env_range_channelfront(ftable_env* env, int32_t channel, float* out) {
  auto* r = static_cast<ftable_range*>(array_element(&env->readers, kRangeWidth, channel));
  if (r == nullptr || r->table == nullptr) return false;
  int looping = r->flags & FTABLE_LOOP;
  if ((!looping && r->end - r->position <= 0) || (looping && r->end - r->loop_start < 1)) {
    return false;
  }
  float count = static_cast<float>(ftable_rows(r->table));
  float lo = clampf(r->loop_start, 0, count);
  float hi = r->end < 0 ? 0 : clampf(r->end, 0, count);
  // A reader that does not move forward, or a loop shorter than a row,
  // would never reach its end.
  if (!(r->speed > 0) || (looping && hi - lo < 1)) return false;
  int32_t width = r->table->width;
  const uint32_t all[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
  scratch_row cur_row, next_row;
  float* cur = scratch_get(&cur_row, width);
  float* next = scratch_get(&next_row, width);
  bool found = false;
  if (cur != nullptr && next != nullptr) {
    float x = r->position + r->speed;
    if (looping) x = wrap_below(x, lo, hi);
    // A loop whose keys all lie behind the position is scanned once, not forever.
    double steps_left = looping ? (hi - lo) / r->speed + 2.0 : INFINITY;
    for (;;) {
      if (!looping && hi - x <= 0) break;
      if (steps_left-- <= 0) break;
      read_row(r->table, r->flags, all, x, next);
      if (next[env->key] > env->position) {
        found = true;
        break;
      }
      r->position += r->speed;
      if (looping) {
        float loop = r->end - r->loop_start;
        while (r->position >= r->end && loop > 0) r->position -= loop;
      }
      x += r->speed;
      if (looping) x = wrap_below(x, lo, hi);
    }
    if (found) {
      read_row(r->table, r->flags, all, r->position, cur);
      float value = cur[channel];
      if ((env->mode & 30) == FTABLE_LINEAR) {
        value = cur[channel] + (env->position - cur[env->key]) / (next[env->key] - cur[env->key]) *
                                   (next[channel] - cur[channel]);
      }
      out[channel] = value;
    }
  }
  scratch_free(&cur_row);
  scratch_free(&next_row);
  return found;
}

void ftable_env_range_front(ftable_env* env, float* out) {
  if (!env->valid || env->table == nullptr) return;
  int32_t width = env->table->width;
  scratch_row row_store;
  float* row = scratch_get(&row_store, width);
  if (row == nullptr) return;
  // A channel without a value keeps what the caller had.
  for (int32_t c = 0, k = 0; c < width; ++c) {
    row[c] = column_selected(env->mask, c) ? out[k++] : 0.0f;
  }
  bool produced = false;
  for (int32_t c = 0; c < width; ++c) {
    if (c == env->key) {
      row[c] = env->position;
    } else if (ftable_env_range_channelfront(env, c, row)) {
      produced = true;
    }
  }
  if (produced) {
    for (int32_t c = 0, k = 0; c < width; ++c) {
      if (column_selected(env->mask, c)) out[k++] = row[c];
    }
  }
  scratch_free(&row_store);
}

void ftable_env_free(ftable_env* env) {
  array_reset(&env->readers);
  env->first = nullptr;
}

void ftable_env_make(ftable_env* env, ftable* table) {
  ftable_env_free(env);
  *env = ftable_env{};
  env->valid = 1;
  env->table = table;
  env->mode = FTABLE_LINEAR;
  env->mask[0] = env->mask[1] = 0xFFFFFFFFu;
  env->key = 0;
  int32_t rows = table != nullptr ? ftable_rows(table) : 0;
  // Without rows there are no keys to clamp to.
  if (table == nullptr || table->width <= 0 || rows <= 0) {
    env->valid = 0;
    return;
  }
  for (int32_t i = 1; i < rows; ++i) {
    float previous = row_at(table, i - 1)[0];
    float key = row_at(table, i)[0];
    if (previous >= key) env->error = 1;
    else if (std::isnan(key)) env->error = 3;
    if (env->error != 0) {
      ftable_env_free(env);
      env->valid = 0;
      return;
    }
  }
  float first = row_at(table, 0)[0];
  float last = row_at(table, rows - 1)[0];
  env->start = clampf(0.0f, first, last);
  env->end = clampf(1000000.0f, first, last);
  env->position = env->start;
  env->speed = 1.0f;
  for (int32_t c = 0; c < table->width; ++c) {
    auto* r = static_cast<ftable_range*>(array_allocate(&env->readers, kRangeWidth, c));
    if (r == nullptr) {
      ftable_env_free(env);
      env->valid = 0;
      return;
    }
    *r = ftable_range{table, 0, {0xFFFFFFFFu, 0xFFFFFFFFu}, 0.0f, 1.0f, 0.0f,
                      static_cast<float>(rows)};
  }
  env->first = static_cast<ftable_range*>(env->readers.data);
}

int ftable_env_check(const ftable_env* env) {
  if (!env->valid) {
    printf("ERROR: Sequence has failed [error: %d]\n", env->error);
    return 0;
  }
  int looping = env->mode & FTABLE_LOOP;
  if ((!looping && env->end - env->position <= 0) || (looping && env->end - env->start < 1)) {
    printf("ERROR: Sequence is empty\n");
    return 0;
  }
  return 1;
}

namespace {

// A table's rows are one array of at most INT32_MAX bytes, the spare float
// included.
constexpr int64_t kMaxFloats = INT32_MAX / sizeof(float) - 1;
// Frames are decoded straight into the rows, at most this many floats at a
// time, so that a header's claims never decide an allocation.
constexpr int64_t kBlockFloats = 262144 * 2;

// Decodes the frames of `file` into the rows: all of them, as many as the
// file says it holds when it knows (frames >= 0), else to its end. Null on
// success, else the reason; `warned` when the reason is already printed.
const char* read_frames(ftable* table, SNDFILE* file, int64_t frames, const char* name, bool* warned) {
  int64_t channels = table->width;
  int64_t limit = kMaxFloats / channels;
  if (frames >= 0 && frames > limit) return "more frames than a table holds";
  int64_t block = kBlockFloats / channels > 0 ? kBlockFloats / channels : 1;
  int64_t done = 0;
  for (;;) {
    int64_t want = frames >= 0 && frames - done < block ? frames - done : block;
    if (want <= 0) break;
    if (done + want > limit) return "more frames than a table holds";
    if (array_allocate(&table->rows, kFloat, static_cast<int32_t>((done + want) * channels)) ==
        nullptr) {
      return "out of memory";
    }
    sf_count_t got = sf_readf_float(file, row_at(table, static_cast<int32_t>(done)), want);
    // A decoder that loses its way may still hand over whole blocks (of
    // silence): its error is what says so.
    if (sf_error(file) != SF_ERR_NO_ERROR) {
      printf("WARNING: ftable_make_on_stream: %s: frames %lld to %lld could not all be read: %s\n", name,
             static_cast<long long>(done), static_cast<long long>(done + want - 1), sf_strerror(file));
      *warned = true;
      return "frames missing";
    }
    if (got <= 0) break;
    done += got;
  }
  // A table with frames missing would play a different sound: none at all
  // is what the caller can notice.
  if (frames >= 0 && done < frames) {
    printf("WARNING: ftable_make_on_stream: %s: %lld of %lld frames could be read\n", name,
           static_cast<long long>(done), static_cast<long long>(frames));
    *warned = true;
    return "frames missing";
  }
  // Only the frames actually decoded are rows, never the allocation's spare
  // float.
  array_truncate(&table->rows, kFloat, static_cast<int32_t>(done * channels));
  return nullptr;
}

}  // namespace

int ftable_make_on_stream(ftable* table, stream** s, const char* name) {
  if (name == nullptr) name = "stream";
  SF_INFO info;
  memset(&info, 0, sizeof info);
  // libsndfile takes the table as mutable, and never changes it.
  SNDFILE* file = sf_open_virtual(const_cast<SF_VIRTUAL_IO*>(&stream_virtualio), SFM_READ, &info, s);
  ftable_free(table);
  if (file == nullptr) {
    printf("ERROR: ftable_make_on_stream: %s: %s\n", name, sf_strerror(nullptr));
    // Closing nothing would read as success; the open's error says why not.
    int error = sf_error(nullptr);
    return error != 0 ? error : SF_ERR_UNRECOGNISED_FORMAT;
  }
  const char* problem = "no channels";
  bool warned = false;
  if (info.channels > 0) {
    table->width = info.channels;
    table->rate = static_cast<float>(info.samplerate);
    // libsndfile gives the largest count for a length it does not know.
    problem = read_frames(table, file, info.frames == SF_COUNT_MAX ? -1 : info.frames, name, &warned);
  }
  if (problem != nullptr) {
    if (!warned) printf("ERROR: ftable_make_on_stream: %s: %s\n", name, problem);
    ftable_free(table);
  }
  int closed = sf_close(file);
  return problem != nullptr && closed == 0 ? SF_ERR_MALFORMED_FILE : closed;
}
