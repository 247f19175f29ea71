// The background thread of the main sequence. Loader tasks come later; the
// thread is not started until then.
#include "app/app.h"
#include "app/app_steps.h"

void app_background_start(App*) {}
void app_background_wait(App*) {}
