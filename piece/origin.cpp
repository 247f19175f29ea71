#include "piece/origin.h"

#include <zeal/app/app.h>

piece_shared* piece_of(const App* app) {
  return app != nullptr ? static_cast<piece_shared*>(app->state[app_stream_index(APP_STREAM_APP)]) : nullptr;
}

double piece_origin_ms(const App* app) {
  const piece_shared* piece = piece_of(app);
  return piece != nullptr ? piece->origin_ms.load(std::memory_order_acquire) : 0.0;
}

void piece_set_origin_ms(App* app, double ms) {
  if (piece_shared* piece = piece_of(app)) piece->origin_ms.store(ms, std::memory_order_release);
}
