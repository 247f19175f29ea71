#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/app/app.h>
#include <zeal/app/configurator.h>
#include <zeal/arch/opengl/configurator.h>
#include <zeal/base/log.h>

int configwindow(App* app) {
  if (!app_wants_configurator(app)) return 0;
  // A render with no window system: the command line's choices stand.
  if (!configurator_available()) {
    log_info("no window system: the configuration window is skipped, as with --no-configurator");
    return 0;
  }
  configurator_choices choices{};
  configurator_default_directory(choices.path, CONFIGURATOR_PATH_CAPACITY);
  if (configurator_run(app->config.name, &choices)) return 1;
  // Run: the boxes give full screen and rendering; with rendering on, the
  // directory (a private copy; an empty field gives none).
  app->config.fullscreen = choices.fullscreen;
  app->config.diskwriter = choices.diskwriter;
  if (!choices.diskwriter) return 0;
  char* copy = choices.path[0] != 0 ? strdup(choices.path) : nullptr;
  if (app->diskwriter_path_owned) free(app->config.diskwriter_path);
  app->config.diskwriter_path = copy;
  app->diskwriter_path_owned = copy != nullptr;
  return 0;
}
