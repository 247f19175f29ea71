// The background thread of the main sequence, which runs loader tasks.
#include <zeal/app/app.h>
#include <zeal/app/app_steps.h>
#include <zeal/app/loader.h>

void app_background_start(App* app) { app_background_thread_start(app); }
void app_background_wait(App* app) { app_background_thread_wait(app); }
