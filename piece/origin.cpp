#include "piece/origin.h"

#include <atomic>

// Written once by the display thread, read by the audio thread.
static std::atomic<double> origin_ms{0.0};

double piece_origin_ms() { return origin_ms.load(std::memory_order_acquire); }
void piece_set_origin_ms(double ms) { origin_ms.store(ms, std::memory_order_release); }
