#include <zeal/app/app.h>
#include "piece/run.h"

int main(int argc, char** argv) { return app_run(argc, argv, APP_STREAM_AUDIO | APP_STREAM_DISPLAY, run); }
