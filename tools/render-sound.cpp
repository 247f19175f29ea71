// Renders the piece's whole sound, block by block as the audio output makes
// it, to a 32-bit float stereo WAV file: no display and no audio device.
#include <sndfile.h>

#include <cstdio>
#include <cstring>

#include "piece/sound.h"

static void usage(const char* program) {
  printf("usage: %s OUT.wav\n", program);
  printf("Writes the sound of vv-plume (scene time 0 to 123000 ms, 44100 Hz stereo,\n"
         "32-bit float) to OUT.wav.\n");
}

struct writer {
  SNDFILE* file;
  int64_t blocks;
  float frames[2 * PIPE_BLOCK];
};

static int write_block(void* arg, const float* left, const float* right) {
  auto* w = static_cast<writer*>(arg);
  for (int k = 0; k < PIPE_BLOCK; ++k) {
    w->frames[2 * k] = left[k];
    w->frames[2 * k + 1] = right[k];
  }
  if (sf_writef_float(w->file, w->frames, PIPE_BLOCK) != PIPE_BLOCK) return 0;
  if (++w->blocks % 1723 == 0) fprintf(stderr, "\r%6.1f s", sound_block_ms(w->blocks) / 1000.0);
  return 1;
}

int main(int argc, char** argv) {
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      usage(argv[0]);
      return 0;
    }
    if (path) {
      printf("ERROR: more than one output file given\n");
      return 2;
    }
    path = argv[i];
  }
  if (!path) {
    usage(argv[0]);
    return 2;
  }

  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  writer w{};
  w.file = sf_open(path, SFM_WRITE, &info);
  if (!w.file) {
    printf("ERROR: cannot write %s: %s\n", path, sf_strerror(nullptr));
    return 1;
  }
  // No time stamp in the file, so that equal renderings give equal files.
  sf_command(w.file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  int ok = sound_render_piece(write_block, &w);
  fprintf(stderr, "\n");
  if (!ok) printf("ERROR: cannot write %s: %s\n", path, sf_strerror(w.file));
  if (sf_close(w.file) != 0 && ok) {
    printf("ERROR: cannot finish %s\n", path);
    ok = 0;
  }
  return ok ? 0 : 1;
}
