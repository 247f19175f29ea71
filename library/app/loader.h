// Loader tasks on the background thread.
//
// Any thread makes a loader, which hands one task to the background thread
// through a single-producer single-consumer queue of its own. The scheduler
// takes new tasks from every queue and calls each active task once per step
// until it reports that it is finished. A task is written in the protothread
// manner: its entry's continuation word is its own, to remember where it left
// off. The loader's ready flag tells the creator that the work is done.
#pragma once
#include <atomic>
#include <cstdint>

#include <zeal/base/array.h>

struct App;
struct AppScheduler;
struct app_loader;
struct app_task;

// 0 to be called again, anything else when finished.
using app_task_fn = int32_t (*)(app_task* task, app_loader* loader);

struct app_task {
  int32_t continuation;  // 0 at the first call
  int32_t finished;      // noted by the scheduler step
  app_task_fn fn;
  app_loader* loader;
};

struct app_loader_queue;

struct app_loader {
  app_loader_queue* queue;
  App* app;
  array identifier;  // a name or path with its terminating zero, or empty
  std::atomic<int32_t> ready;
  int32_t result;
};

// Takes over the identifier storage and queues (0, fn, loader).
void app_loader_make_core(app_loader* loader, char* identifier, int32_t identifier_failed,
                          int32_t identifier_size, int32_t identifier_capacity, app_task_fn fn,
                          App* app, int32_t result);
void app_loader_make(app_loader* loader, char* identifier, int32_t identifier_failed,
                     int32_t identifier_size, int32_t identifier_capacity, app_task_fn fn, App* app);
void app_loader_make4(app_loader* loader, char* identifier, int32_t identifier_failed,
                      int32_t identifier_size, int32_t identifier_capacity, app_task_fn fn,
                      App* app, int32_t result);
// The same with a copy of `text` (none gives an empty identifier).
void app_loader_make2(app_loader* loader, const char* text, app_task_fn fn, App* app);
void app_loader_make3(app_loader* loader, const char* text, app_task_fn fn, App* app,
                      int32_t result);

const char* app_loader_identifier(const app_loader* loader);  // null when empty
void app_loader_identifiers(array* out, const app_loader* loader);
int32_t app_loader_result(const app_loader* loader);
int32_t app_loader_ready(const app_loader* loader);
void app_loader_set_ready(app_loader* loader);
void app_loader_unset_ready(app_loader* loader);
// Frees the identifier; the queue stays with the scheduler.
void app_loader_destroy(app_loader* loader);
// Active tasks; -1 when the task array failed.
int32_t app_loader_taskcount(const App* app);

// One step of the scheduler: take new tasks, call every active task once,
// drop the finished ones. Returns the tasks still active (-1 on failure).
int32_t pt_scheduler_step(AppScheduler* scheduler);
// Frees the tasks, every queue with its remaining nodes, and the queue array.
void pt_scheduler_destroy(AppScheduler* scheduler);

// The thread runs scheduler steps while the app has streams: every 30 ms
// while tasks are active, every 250 ms otherwise.
void app_background_thread_start(App* app);
void app_background_thread_wait(App* app);
