#include <zeal/io/sound_libraries.h>

#include <alsa/asoundlib.h>
#include <jack/jack.h>

namespace {

void quiet_alsa(const char*, int, const char*, int, const char*, ...) {}
void quiet_jack(const char*) {}

}  // namespace

void sound_libraries_quiet() {
  snd_lib_error_set_handler(quiet_alsa);
  jack_set_error_function(quiet_jack);
  jack_set_info_function(quiet_jack);
}
