#include <zeal/io/midi_sender.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/io/midi_event.h>

namespace {

constexpr int32_t kCapacity = 4096;
constexpr double kLongestWaitMs = 1.0;  // a newly posted earlier message waits no longer
constexpr uint64_t kDrainNs = 1000000000u;

bool before(const midi_pending& a, const midi_pending& b) {
  return a.stamp != b.stamp ? a.stamp < b.stamp : a.order < b.order;
}

void heap_push(midi_sender* s, const midi_pending& item) {
  int32_t i = s->count++;
  s->heap[i] = item;
  while (i > 0) {
    int32_t parent = (i - 1) / 2;
    if (!before(s->heap[i], s->heap[parent])) break;
    midi_pending t = s->heap[i];
    s->heap[i] = s->heap[parent];
    s->heap[parent] = t;
    i = parent;
  }
}

midi_pending heap_pop(midi_sender* s) {
  midi_pending top = s->heap[0];
  s->heap[0] = s->heap[--s->count];
  int32_t i = 0;
  for (;;) {
    int32_t least = i;
    int32_t l = 2 * i + 1, r = 2 * i + 2;
    if (l < s->count && before(s->heap[l], s->heap[least])) least = l;
    if (r < s->count && before(s->heap[r], s->heap[least])) least = r;
    if (least == i) break;
    midi_pending t = s->heap[i];
    s->heap[i] = s->heap[least];
    s->heap[least] = t;
    i = least;
  }
  return top;
}

void* sender_thread(void* arg) {
  auto* s = static_cast<midi_sender*>(arg);
  inthread_lock(&s->lock);
  for (;;) {
    if (s->count == 0) {
      if (s->stopping) break;
      inthread_cond_wait(&s->wake, &s->lock);
      continue;
    }
    uint64_t now = midi_host_time();
    if (s->stopping && s->heap[0].stamp > s->stop_after) {
      s->count = 0;  // too far ahead to wait for
      continue;
    }
    if (s->heap[0].stamp <= now) {
      midi_pending item = heap_pop(s);
      inthread_unlock(&s->lock);
      s->send(s->arg, item.bytes, item.length);
      inthread_lock(&s->lock);
      continue;
    }
    double wait_ms = static_cast<double>(s->heap[0].stamp - now) * 1e-6;
    inthread_unlock(&s->lock);
    inthread_sleep(wait_ms < kLongestWaitMs ? wait_ms : kLongestWaitMs);
    inthread_lock(&s->lock);
  }
  inthread_unlock(&s->lock);
  return nullptr;
}

}  // namespace

int midi_sender_start(midi_sender* sender, midi_send_fn send, void* arg) {
  *sender = midi_sender{};
  sender->send = send;
  sender->arg = arg;
  sender->heap = static_cast<midi_pending*>(calloc(kCapacity, sizeof(midi_pending)));
  if (sender->heap == nullptr || thread_lock_make(&sender->lock) != 0 ||
      thread_cond_make(&sender->wake) != 0 ||
      thread_start(&sender->thread, sender_thread, sender) != 0) {
    thread_cond_destroy(&sender->wake);
    thread_lock_destroy(&sender->lock);
    free(sender->heap);
    *sender = midi_sender{};
    return 0;
  }
  sender->capacity = kCapacity;
  return 1;
}

int midi_sender_post(midi_sender* sender, uint64_t stamp, const uint8_t* bytes, int32_t length) {
  if (sender->heap == nullptr || length < 1 || length > 3) return 0;
  midi_pending item{};
  item.stamp = stamp;
  item.length = static_cast<uint8_t>(length);
  memcpy(item.bytes, bytes, static_cast<size_t>(length));
  inthread_lock(&sender->lock);
  int ok = sender->count < sender->capacity && !sender->stopping;
  if (ok) {
    item.order = sender->order++;
    heap_push(sender, item);
    inthread_cond_signal(&sender->wake);
  }
  inthread_unlock(&sender->lock);
  return ok;
}

void midi_sender_stop(midi_sender* sender) {
  if (sender->heap == nullptr) return;
  inthread_lock(&sender->lock);
  sender->stopping = 1;
  sender->stop_after = midi_host_time() + kDrainNs;
  inthread_cond_signal(&sender->wake);
  inthread_unlock(&sender->lock);
  thread_waitfor(&sender->thread);
  thread_cond_destroy(&sender->wake);
  thread_lock_destroy(&sender->lock);
  free(sender->heap);
  *sender = midi_sender{};
}
