#include <zeal/base/version.h>

const char* zeal_version() { return ZEAL_VERSION; }
