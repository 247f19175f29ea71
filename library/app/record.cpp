#include <zeal/app/record.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <zeal/app/app.h>
#include <zeal/app/bus.h>
#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/base/log.h>
#include <zeal/io/midi_event.h>

namespace {

constexpr uint32_t kQueueSlots = 4096;  // a power of two
// Events come from several threads whose clock readings may cross by a
// little: the writer holds the newest back this long and writes in order.
constexpr double kHoldBackMs = 250.0;
constexpr auto kWriterPeriod = std::chrono::milliseconds(100);  // flushed at least this often

const char* const kClockNames[] = {"start", "continue", "stop", "clock"};

}  // namespace

// --- Recording ---------------------------------------------------------------

struct app_recorder {
  // Bounded multi-producer queue: each slot's sequence says whose turn it is.
  struct Slot {
    std::atomic<uint32_t> sequence;
    app_record_event event;
  };
  std::unique_ptr<Slot[]> slots{new Slot[kQueueSlots]};
  std::atomic<uint32_t> head{0};  // next slot to fill
  uint32_t tail = 0;              // next slot to take (writer only)
  std::atomic<uint64_t> dropped{0};
  std::atomic<double> reached{0.0};
  std::atomic<bool> closing{false};
  double (*clock)(const App* app) = nullptr;  // the display's time, for input events
  std::string path;
  FILE* file = nullptr;
  int failed = 0;  // a write failed (writer only until joined)
  std::vector<app_record_event> pending;  // writer only
  double written_ms = 0.0;
  std::thread writer;

  ~app_recorder() {
    if (file != nullptr) fclose(file);
  }

  void take() {
    for (;;) {
      Slot& slot = slots[tail & (kQueueSlots - 1)];
      if (slot.sequence.load(std::memory_order_acquire) != tail + 1) return;
      pending.push_back(slot.event);
      slot.sequence.store(tail + kQueueSlots, std::memory_order_release);
      tail += 1;
    }
  }

  void write(const app_record_event& e) {
    // Never backwards: an event that crossed another by less than the hold
    // back is written at the time already reached.
    double ms = std::max(e.ms, written_ms);
    written_ms = ms;
    const int32_t* w = e.words;
    int n = 0;
    if (e.source == APP_RECORD_MIDI) {
      if (w[2] == MIDI_KIND_CLOCK && w[3] >= 0 && w[3] <= 3)
        n = fprintf(file, "%.17g midi %s\n", ms, kClockNames[w[3]]);
      else if (w[4] == MIDI_TAG_NOTE_ON)
        n = fprintf(file, "%.17g midi noteon %d %d %d\n", ms, w[3], w[5], w[7]);
      else if (w[4] == MIDI_TAG_NOTE_OFF)
        n = fprintf(file, "%.17g midi noteoff %d %d\n", ms, w[3], w[5]);
      else if (w[4] == MIDI_TAG_CONTROLLER)
        n = fprintf(file, "%.17g midi cc %d %d %d\n", ms, w[3], w[5], w[7]);
    } else if (e.source == APP_RECORD_BUS) {
      n = fprintf(file, "%.17g bus %d", ms, e.ring);
      for (int i = 0; i < 8 && n > 0; ++i) n = fprintf(file, " %08" PRIx32, static_cast<uint32_t>(w[i]));
      if (n > 0) n = fprintf(file, "\n");
    } else {
      const char* name = e.source == APP_RECORD_KEY ? "key" : e.source == APP_RECORD_MOUSE ? "mouse" : "joystick";
      n = fprintf(file, "%.17g %s %d %d %d %d\n", ms, name, w[2], w[3], w[4], w[5]);
    }
    if (n < 0) failed = 1;
  }

  // Writes what is old enough (everything when `all`), in time order.
  void drain(bool all) {
    take();
    if (pending.empty()) return;
    std::stable_sort(pending.begin(), pending.end(),
                     [](const app_record_event& a, const app_record_event& b) { return a.ms < b.ms; });
    // The clock goes on between events: what it has passed by the hold
    // back is written, even when nothing newer comes.
    double newest = std::max(pending.back().ms, reached.load(std::memory_order_relaxed));
    size_t n = 0;
    while (n < pending.size() && (all || pending[n].ms <= newest - kHoldBackMs)) write(pending[n++]);
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(n));
    if (n > 0 && fflush(file) != 0) failed = 1;
  }

  void run() {
    while (!closing.load(std::memory_order_acquire)) {
      std::this_thread::sleep_for(kWriterPeriod);
      drain(false);
    }
  }
};

app_recorder* app_recorder_open(const char* path, double (*clock)(const App* app), std::string* why) {
  auto recorder = std::make_unique<app_recorder>();
  recorder->clock = clock;
  recorder->path = path;
  recorder->file = fopen(path, "w");
  if (recorder->file == nullptr || fprintf(recorder->file, "zeal-record 1\n") < 0 || fflush(recorder->file) != 0) {
    *why = strerror(errno);
    return nullptr;
  }
  for (uint32_t i = 0; i < kQueueSlots; ++i) recorder->slots[i].sequence.store(i, std::memory_order_relaxed);
  recorder->pending.reserve(kQueueSlots);
  app_recorder* r = recorder.get();
  // The writer takes no signals: interrupts go to the thread that turns
  // them into the app's stop, whenever the recording was opened.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  recorder->writer = std::thread([r] { r->run(); });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return recorder.release();
}

void app_recorder_add(app_recorder* r, const app_record_event& event) {
  uint32_t at = r->head.load(std::memory_order_relaxed);
  for (;;) {
    app_recorder::Slot& slot = r->slots[at & (kQueueSlots - 1)];
    uint32_t sequence = slot.sequence.load(std::memory_order_acquire);
    if (sequence == at) {
      if (r->head.compare_exchange_weak(at, at + 1, std::memory_order_relaxed)) {
        slot.event = event;
        slot.sequence.store(at + 1, std::memory_order_release);
        break;
      }
    } else if (static_cast<int32_t>(sequence - at) < 0) {
      r->dropped.fetch_add(1, std::memory_order_relaxed);  // the writer is a whole queue behind
      break;
    } else {
      at = r->head.load(std::memory_order_relaxed);
    }
  }
  app_recorder_reached(r, event.ms);
}

void app_recorder_reached(app_recorder* r, double ms) {
  double seen = r->reached.load(std::memory_order_relaxed);
  while (ms > seen && !r->reached.compare_exchange_weak(seen, ms, std::memory_order_relaxed)) {
  }
}

int app_recorder_close(app_recorder* r) {
  std::unique_ptr<app_recorder> owned(r);
  r->closing.store(true, std::memory_order_release);
  r->writer.join();
  r->drain(true);
  double end = std::max(r->reached.load(), r->written_ms);
  if (fprintf(r->file, "%.17g end\n", end) < 0) r->failed = 1;
  if (fclose(r->file) != 0) r->failed = 1;
  r->file = nullptr;
  uint64_t dropped = r->dropped.load();
  if (dropped > 0)
    log_warning("the recording \"%s\" lost %llu event(s): its writer fell behind.", r->path.c_str(),
           static_cast<unsigned long long>(dropped));
  if (r->failed) log_error("cannot write the recording \"%s\"", r->path.c_str());
  fflush(stdout);
  return !r->failed;
}

// --- Replaying -----------------------------------------------------------------

namespace {

// Whole numbers in [lo, hi] only.
bool parse_int(const std::string& word, long lo, long hi, int32_t* out) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = strtol(word.c_str(), &end, 10);
  if (*end != 0 || errno != 0 || v < lo || v > hi) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool parse_hex_word(const std::string& word, int32_t* out) {
  if (word.empty() || word.size() > 8) return false;
  char* end = nullptr;
  unsigned long v = strtoul(word.c_str(), &end, 16);
  if (*end != 0 || word[0] == '-' || word[0] == '+') return false;
  *out = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

// One event line into `e`: "" or what is wrong with it.
std::string parse_event(const std::vector<std::string>& w, app_record_event* e, bool* end) {
  *e = app_record_event{};
  char* after = nullptr;
  e->ms = strtod(w[0].c_str(), &after);
  if (*after != 0 || !std::isfinite(e->ms) || e->ms < 0.0) return "\"" + w[0] + "\" is not a time in ms";
  const std::string& source = w.size() > 1 ? w[1] : "";
  if (source == "end") {
    *end = true;
    return w.size() == 2 ? "" : "end takes no fields";
  }
  if (source == "midi") {
    e->source = APP_RECORD_MIDI;
    midi_event m{};
    const std::string kind = w.size() > 2 ? w[2] : "";
    for (int op = 0; op < 4; ++op)
      if (kind == kClockNames[op] && w.size() == 3) {
        using builder = void (*)(midi_event*);
        const builder clock_builders[] = {midiclock_start, midiclock_continue, midiclock_stop, midiclock_tick};
        clock_builders[op](&m);
        memcpy(e->words, &m, sizeof m);
        return "";
      }
    int32_t channel = 0, first = 0, second = 0;
    size_t fields = kind == "noteoff" ? 5 : 6;
    if ((kind != "noteon" && kind != "noteoff" && kind != "cc") || w.size() != fields ||
        !parse_int(w[3], 0, 15, &channel) || !parse_int(w[4], -128, 127, &first) ||
        (fields == 6 && !parse_int(w[5], -128, 127, &second)))
      return "a midi event is noteon CHANNEL NOTE VELOCITY, noteoff CHANNEL NOTE, cc CHANNEL CONTROLLER VALUE, "
             "clock, start, stop or continue";
    if (kind == "noteon") noteon(&m, channel, first, second);
    else if (kind == "noteoff") noteoff(&m, channel, first);
    else cc(&m, channel, first, second);
    memcpy(e->words, &m, sizeof m);
    return "";
  }
  if (source == "key" || source == "mouse" || source == "joystick") {
    e->source = source == "key" ? APP_RECORD_KEY : source == "mouse" ? APP_RECORD_MOUSE : APP_RECORD_JOYSTICK;
    uint32_t id = source == "key" ? INPUT_KEYBOARD_ID : source == "mouse" ? INPUT_MOUSE_ID : INPUT_JOYSTICK_ID;
    e->words[0] = static_cast<int32_t>(id);
    if (w.size() != 6) return source + " takes CODE VALUE CODE2 VALUE2";
    for (int i = 0; i < 4; ++i)
      if (!parse_int(w[2 + static_cast<size_t>(i)], INT32_MIN, INT32_MAX, &e->words[2 + i]))
        return source + " takes CODE VALUE CODE2 VALUE2 (whole numbers)";
    return "";
  }
  if (source == "bus") {
    e->source = APP_RECORD_BUS;
    if (w.size() != 11 || !parse_int(w[2], 0, 1000, &e->ring)) return "bus takes RING and eight hex words";
    for (int i = 0; i < 8; ++i)
      if (!parse_hex_word(w[3 + static_cast<size_t>(i)], &e->words[i])) return "bus takes RING and eight hex words";
    return "";
  }
  return source.empty() ? "an event needs a source" : "unknown source \"" + source + "\"";
}

}  // namespace

std::unique_ptr<app_replay> app_replay_load(const char* path, std::string* error) {
  FILE* f = fopen(path, "r");
  if (f == nullptr) {
    *error = std::string(path) + ":0: cannot read the recording: " + strerror(errno);
    return nullptr;
  }
  auto replay = std::make_unique<app_replay>();
  auto fail = [&](int line, const std::string& what) {
    *error = std::string(path) + ":" + std::to_string(line) + ": " + what;
    fclose(f);
    return nullptr;
  };
  std::string line;
  int number = 0;
  bool ended = false;
  double last = 0.0;
  for (int c = 0; c != EOF;) {
    line.clear();
    while ((c = fgetc(f)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) break;
    number += 1;
    if (number == 1) {
      if (split(line) != std::vector<std::string>{"zeal-record", "1"})
        return fail(1, "not a recording of version 1 (the first line must be \"zeal-record 1\")");
      continue;
    }
    std::vector<std::string> words = split(line);
    if (words.empty() || words[0][0] == '#') continue;
    if (ended) return fail(number, "an event after the end");
    app_record_event e;
    std::string wrong = parse_event(words, &e, &ended);
    if (!wrong.empty()) return fail(number, wrong);
    if (e.ms < last) return fail(number, "out of time order (before the line above)");
    last = e.ms;
    if (ended) replay->end_ms = e.ms;
    else if (e.source == APP_RECORD_MIDI || e.source == APP_RECORD_BUS) replay->ticks.push_back(e);
    else replay->display.push_back(e);
  }
  fclose(f);
  if (number == 0) {
    *error = std::string(path) + ":1: empty: not a recording";
    return nullptr;
  }
  if (!ended) {
    *error = std::string(path) + ":" + std::to_string(number) + ": the recording has no end line";
    return nullptr;
  }
  return replay;
}

int32_t app_record_midi_bytes(const midi_event& m, uint8_t bytes[3]) {
  if (m.kind == MIDI_KIND_CLOCK) {
    static const uint8_t kClock[] = {0xFA, 0xFB, 0xFC, 0xF8};
    if (m.channel < 0 || m.channel > 3) return 0;
    bytes[0] = kClock[m.channel];
    return 1;
  }
  if (m.kind != MIDI_KIND_CHANNEL) return 0;
  uint8_t channel = static_cast<uint8_t>(m.channel & 15);
  bytes[1] = static_cast<uint8_t>(m.first);
  bytes[2] = static_cast<uint8_t>(m.second);
  if (m.first_tag == MIDI_TAG_NOTE_ON && m.second != 0) bytes[0] = 0x90 | channel;
  else if (m.first_tag == MIDI_TAG_NOTE_ON || m.first_tag == MIDI_TAG_NOTE_OFF) bytes[0] = 0x80 | channel, bytes[2] = 0;
  else if (m.first_tag == MIDI_TAG_CONTROLLER && m.second_tag == MIDI_TAG_CONTROLLER_VALUE) bytes[0] = 0xB0 | channel;
  else return 0;
  return 3;
}

// --- The runtime's taps ----------------------------------------------------------

void app_record_input(void* user, const int32_t* event, int32_t words) {
  auto* app = static_cast<App*>(user);
  if (app->recorder == nullptr || event == nullptr || words < INPUT_EVENT_WORDS) return;
  app_record_event e{};
  uint32_t id = static_cast<uint32_t>(event[0]);
  e.source = id == INPUT_KEYBOARD_ID ? APP_RECORD_KEY : id == INPUT_MOUSE_ID ? APP_RECORD_MOUSE : APP_RECORD_JOYSTICK;
  e.ms = app->recorder->clock != nullptr ? app->recorder->clock(app) : 0.0;
  memcpy(e.words, event, INPUT_EVENT_WORDS * sizeof(int32_t));
  app_recorder_add(app->recorder, e);
}

void app_replay_tick(App* app, double t) {
  app_replay* r = app->replay;
  // At most half a ring a tick, as a live source that sends faster fills
  // the bus over several ticks.
  for (int n = 0; r->ticks_next < r->ticks.size() && r->ticks[r->ticks_next].ms <= t && n < APP_BUS_RING_EVENTS / 2; ++n) {
    const app_record_event& e = r->ticks[r->ticks_next++];
    if (e.source == APP_RECORD_BUS) {
      if (r->post != nullptr) r->post(app, e.ring, e.words);
      continue;
    }
    midi_event m;
    memcpy(&m, e.words, sizeof m);
    uint8_t bytes[3];
    int32_t length = app_record_midi_bytes(m, bytes);
    uint8_t packet[16];
    midi_packet_write(packet, 0, bytes, length);
    if (length > 0 && r->midi_in != nullptr) r->midi_in(app, packet);
  }
}

void app_replay_frame(App* app, double t) {
  app_replay* r = app->replay;
  display_device* device = app->display;
  while (r->display_next < r->display.size() && r->display[r->display_next].ms <= t) {
    const app_record_event& e = r->display[r->display_next++];
    if (device == nullptr) continue;
    for (input_slot& slot : device->slots)
      if (event_hooks_send(&slot, e.words, INPUT_EVENT_WORDS)) break;
  }
}
