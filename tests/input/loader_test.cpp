#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include <zeal/app/app.h>
#include <zeal/app/loader.h>
#include <zeal/base/thread.h>

namespace {

std::string calls;

// Finishes at the call numbered by the loader's result (1 = first call);
// the continuation counts the calls.
int32_t counted(app_task* task, app_loader* loader) {
  calls += app_loader_identifier(loader);
  task->continuation += 1;
  if (task->continuation < app_loader_result(loader)) return 0;
  app_loader_set_ready(loader);
  return 1;
}

struct Loaders {
  App app{};
  std::vector<app_loader*> made;
  Loaders() { calls.clear(); }
  app_loader* make(const char* name, int32_t finish_at) {
    auto* l = new app_loader{};
    app_loader_make3(l, name, counted, &app, finish_at);
    made.push_back(l);
    return l;
  }
  ~Loaders() {
    pt_scheduler_destroy(&app.scheduler);
    for (auto* l : made) {
      app_loader_destroy(l);
      delete l;
    }
  }
};

}  // namespace

TEST(Scheduler, LoadersRunInQueueOrderUntilTheyFinish) {
  Loaders s;
  s.make("a", 3);
  s.make("b", 3);
  EXPECT_EQ(pt_scheduler_step(&s.app.scheduler), 2);
  EXPECT_EQ(calls, "ab");
  s.make("c", 1);  // made before a step: runs in it
  EXPECT_EQ(pt_scheduler_step(&s.app.scheduler), 2);
  EXPECT_EQ(calls, "ababc");
  EXPECT_EQ(pt_scheduler_step(&s.app.scheduler), 0);
  EXPECT_EQ(calls, "ababcab");
  EXPECT_EQ(app_loader_taskcount(&s.app), 0);
}

namespace {

std::atomic<double> first_call_ms{0};
int32_t stamp_first_call(app_task*, app_loader* loader) {
  first_call_ms.store(get_milliseconds());
  app_loader_set_ready(loader);
  return 1;
}

}  // namespace

TEST(BackgroundThread, IdlesAtAQuarterSecondAndRunsTasksUntilTheAppEnds) {
  App app{};
  app.config.streams = APP_STREAM_AUDIO;
  app_loader early{};
  app_loader_make2(&early, "early", stamp_first_call, &app);  // before the thread
  app_background_thread_start(&app);
  for (int i = 0; i < 100 && !app_loader_ready(&early); ++i) inthread_sleep(10);
  EXPECT_EQ(app_loader_ready(&early), 1);

  inthread_sleep(300);  // the thread now sleeps its idle quarter second
  app_loader late{};
  double made = get_milliseconds();
  app_loader_make2(&late, "late", stamp_first_call, &app);
  for (int i = 0; i < 100 && !app_loader_ready(&late); ++i) inthread_sleep(10);
  ASSERT_EQ(app_loader_ready(&late), 1);
  // Woken for it, or at the end of its idle quarter second; how soon it
  // runs after that depends on the machine's load.
  EXPECT_LT(first_call_ms.load() - made, 1000.0);

  // Loaders made while the thread walks the queues all get their turn.
  std::vector<app_loader> many(200);
  for (auto& l : many) app_loader_make2(&l, "many", stamp_first_call, &app);
  for (int i = 0; i < 200 && !app_loader_ready(&many.back()); ++i) inthread_sleep(10);
  for (auto& l : many) EXPECT_EQ(app_loader_ready(&l), 1);

  double stop = get_milliseconds();
  app.config.streams = 0;
  app_background_thread_wait(&app);
  EXPECT_LT(get_milliseconds() - stop, 1000.0);
  EXPECT_EQ(app.scheduler.queues.data, nullptr);
  app_loader_destroy(&early);
  app_loader_destroy(&late);
  for (auto& l : many) app_loader_destroy(&l);
}
