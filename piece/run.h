// The piece's message handler.
#pragma once
#include <cstdint>

struct App;
int32_t run(uint32_t stream, uint32_t phase, App* app);
