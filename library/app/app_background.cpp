// The background thread of the main sequence, which runs loader tasks.
#include "app/app.h"
#include "app/app_steps.h"
#include "app/loader.h"

void app_background_start(App* app) { app_background_thread_start(app); }
void app_background_wait(App* app) { app_background_thread_wait(app); }
