#include <zeal/app/loader.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <zeal/app/app.h>
#include <zeal/app/app_input.h>
#include <zeal/base/log.h>
#include <zeal/base/thread.h>

struct app_queue_node {
  app_task* task;
  std::atomic<app_queue_node*> next;
};

// Positions are chosen by the parity of their side's counter: a side writes
// the slot the other side is not reading, then moves its counter.
struct app_loader_queue {
  app_queue_node* head;  // the oldest node not yet freed (producer side)
  std::atomic<app_queue_node*> consumer[2];
  std::atomic<int32_t> consumer_count;
  std::atomic<app_queue_node*> producer[2];
  std::atomic<int32_t> producer_count;
};

namespace {

constexpr int32_t kTaskWidth = static_cast<int32_t>(sizeof(app_task));
constexpr int32_t kQueueWidth = static_cast<int32_t>(sizeof(app_loader_queue*));

// Loaders are made on any thread while the background thread walks the queue
// array; appending may move the array, so both sides hold it briefly.
void lock_queues(AppScheduler* scheduler) {
  while (scheduler->queues_busy.exchange(1) != 0) inthread_yield();
}
void unlock_queues(AppScheduler* scheduler) { scheduler->queues_busy.store(0); }

// Nodes and queues hold atomics, so they are constructed (new), not just
// zeroed; out of memory still gives null.
app_queue_node* node_make(app_task* task) {
  auto* node = new (std::nothrow) app_queue_node{};
  if (node != nullptr) node->task = task;
  return node;
}

app_loader_queue* queue_make() {
  auto* queue = new (std::nothrow) app_loader_queue{};
  app_queue_node* node = node_make(nullptr);
  if (queue == nullptr || node == nullptr) {
    delete queue;
    delete node;
    return nullptr;
  }
  queue->head = node;
  queue->consumer[0].store(node);
  queue->consumer[1].store(node);
  queue->producer[0].store(node);
  return queue;
}

// Frees the nodes the consumer has moved past; they belong to the producer.
void queue_release_taken(app_loader_queue* queue) {
  for (;;) {
    app_queue_node* taken = queue->consumer[queue->consumer_count.load() & 1].load();
    if (queue->head == taken) return;
    app_queue_node* next = queue->head->next.load();
    delete queue->head;
    queue->head = next;
  }
}

int queue_push(app_loader_queue* queue, app_task* task) {
  app_queue_node* node = node_make(task);
  if (node == nullptr) return 0;
  int32_t t = queue->producer_count.load();
  queue->producer[t & 1].load()->next.store(node);
  queue->producer[(t + 1) & 1].store(node);
  queue->producer_count.fetch_add(1);
  queue_release_taken(queue);
  return 1;
}

// The next waiting task, or null.
app_task* queue_take(app_loader_queue* queue) {
  int32_t c = queue->consumer_count.load();
  app_queue_node* position = queue->consumer[c & 1].load();
  if (position == queue->producer[queue->producer_count.load() & 1].load()) return nullptr;
  app_queue_node* node = position->next.load();
  if (node == nullptr) return nullptr;
  app_task* task = node->task;
  node->task = nullptr;
  queue->consumer[(c + 1) & 1].store(node);
  queue->consumer_count.fetch_add(1);
  return task;
}

void queue_destroy(app_loader_queue* queue) {
  app_queue_node* node = queue->head;
  while (node != nullptr) {
    app_queue_node* next = node->next.load();
    free(node->task);
    delete node;
    node = next;
  }
  delete queue;
}

void take_new_tasks(AppScheduler* scheduler) {
  lock_queues(scheduler);
  int32_t queues = array_count(&scheduler->queues, kQueueWidth);
  for (int32_t q = 0; q < queues; ++q) {
    auto* queue = *static_cast<app_loader_queue**>(array_element(&scheduler->queues, kQueueWidth, q));
    while (app_task* record = queue_take(queue)) {
      app_task entry{0, 0, record->fn, record->loader};
      array_append(&scheduler->tasks, &entry, kTaskWidth);
      free(record);
    }
  }
  unlock_queues(scheduler);
}

void* background_thread(void* arg) {
  auto* app = static_cast<App*>(arg);
  while (app->config.streams != 0) {
    int32_t active = pt_scheduler_step(&app->scheduler);
    app_midi_report(app);
    inthread_sleep(active != 0 ? 30.0 : 250.0);
  }
  return nullptr;
}

}  // namespace

void app_loader_make_core(app_loader* loader, char* identifier, int32_t identifier_failed,
                          int32_t identifier_size, int32_t identifier_capacity, app_task_fn fn,
                          App* app, int32_t result) {
  loader->identifier = array{identifier, identifier_failed, identifier_size, identifier_capacity};
  loader->ready.store(0);
  loader->app = app;
  loader->result = result;
  loader->queue = queue_make();
  auto* record = static_cast<app_task*>(calloc(1, sizeof(app_task)));
  if (loader->queue != nullptr) {
    lock_queues(&app->scheduler);
    array_append(&app->scheduler.queues, &loader->queue, kQueueWidth);
    bool kept = !app->scheduler.queues.failed;
    unlock_queues(&app->scheduler);
    if (!kept) {
      queue_destroy(loader->queue);
      loader->queue = nullptr;
    }
  }
  if (record != nullptr) {
    record->fn = fn;
    record->loader = loader;
  }
  if (loader->queue == nullptr || record == nullptr || !queue_push(loader->queue, record)) {
    free(record);
    log_error("cannot queue the loader task");
  }
}

void app_loader_make(app_loader* loader, char* identifier, int32_t identifier_failed,
                     int32_t identifier_size, int32_t identifier_capacity, app_task_fn fn, App* app) {
  app_loader_make_core(loader, identifier, identifier_failed, identifier_size, identifier_capacity,
                       fn, app, 0);
}

void app_loader_make4(app_loader* loader, char* identifier, int32_t identifier_failed,
                      int32_t identifier_size, int32_t identifier_capacity, app_task_fn fn,
                      App* app, int32_t result) {
  app_loader_make_core(loader, identifier, identifier_failed, identifier_size, identifier_capacity,
                       fn, app, result);
}

void app_loader_make3(app_loader* loader, const char* text, app_task_fn fn, App* app,
                      int32_t result) {
  array id{};
  if (text != nullptr) array_append(&id, text, static_cast<int32_t>(strlen(text)) + 1);
  app_loader_make_core(loader, static_cast<char*>(id.data), id.failed, id.size, id.capacity, fn,
                       app, result);
}

void app_loader_make2(app_loader* loader, const char* text, app_task_fn fn, App* app) {
  app_loader_make3(loader, text, fn, app, 0);
}

const char* app_loader_identifier(const app_loader* loader) {
  return loader->identifier.size > 0 ? static_cast<const char*>(loader->identifier.data) : nullptr;
}

void app_loader_identifiers(array* out, const app_loader* loader) { *out = loader->identifier; }
int32_t app_loader_result(const app_loader* loader) { return loader->result; }
int32_t app_loader_ready(const app_loader* loader) { return loader->ready.load(); }
void app_loader_set_ready(app_loader* loader) { loader->ready.store(1); }
void app_loader_unset_ready(app_loader* loader) { loader->ready.store(0); }
void app_loader_destroy(app_loader* loader) { array_reset(&loader->identifier); }

int32_t app_loader_taskcount(const App* app) { return array_count(&app->scheduler.tasks, kTaskWidth); }

int32_t pt_scheduler_step(AppScheduler* scheduler) {
  take_new_tasks(scheduler);
  int32_t n = array_count(&scheduler->tasks, kTaskWidth);
  if (n < 0) return -1;
  auto* tasks = static_cast<app_task*>(scheduler->tasks.data);
  for (int32_t i = 0; i < n; ++i) tasks[i].finished = tasks[i].fn(&tasks[i], tasks[i].loader) != 0;
  // Each finished entry takes the last unfinished one from the back.
  int32_t end = n;
  for (int32_t i = 0; i < end; ++i) {
    if (!tasks[i].finished) continue;
    while (end > i + 1 && tasks[end - 1].finished) --end;
    if (end > i + 1) {
      tasks[i] = tasks[end - 1];
      --end;
    } else {
      end = i;
    }
  }
  array_truncate(&scheduler->tasks, kTaskWidth, end);
  return end;
}

void pt_scheduler_destroy(AppScheduler* scheduler) {
  array_reset(&scheduler->tasks);
  lock_queues(scheduler);
  int32_t queues = array_count(&scheduler->queues, kQueueWidth);
  for (int32_t q = 0; q < queues; ++q)
    queue_destroy(*static_cast<app_loader_queue**>(array_element(&scheduler->queues, kQueueWidth, q)));
  array_reset(&scheduler->queues);
  unlock_queues(scheduler);
}

// Loaders made before the thread starts (during the app's begin, say) keep
// their queues: the scheduler of a fresh app record is already empty.
void app_background_thread_start(App* app) {
  if (thread_start(&app->background_thread, background_thread, app) != 0)
    log_error("cannot start the background thread");
}

void app_background_thread_wait(App* app) {
  thread_waitfor(&app->background_thread);
  pt_scheduler_destroy(&app->scheduler);
}
