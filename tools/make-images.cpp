// Draws the piece's images: the particle palette and three fish sprites.
//
//   make-images DIR    writes DIR/pal1.png, DIR/fish1.png, DIR/fish2.png, DIR/fish4.png
//
// Everything is drawn procedurally with antialiased edges, so the images are
// our own and can be remade at any size.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

struct rgb {
  float r, g, b;
};

rgb mix(rgb a, rgb b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float clamp01(float x) { return x < 0 ? 0 : x > 1 ? 1 : x; }
float smooth(float e0, float e1, float x) {
  float t = clamp01((x - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}

uint8_t byte(float x) { return static_cast<uint8_t>(std::lround(clamp01(x) * 255.0f)); }

// The particle system reads a palette pixel as a little-endian 32-bit word and
// takes red from its third byte and blue from its first, so a colour meant to
// glow as (r, g, b) is stored as (b, g, r).
std::vector<uint8_t> palette(int width, int height) {
  const rgb stops[] = {{1.00f, 0.28f, 0.06f}, {1.00f, 0.52f, 0.12f}, {1.00f, 0.74f, 0.30f},
                       {1.00f, 0.90f, 0.62f}, {0.98f, 0.56f, 0.40f}, {0.92f, 0.34f, 0.22f}};
  const int n = sizeof stops / sizeof stops[0];
  std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
  for (int x = 0; x < width; ++x) {
    float f = static_cast<float>(x) / (width - 1) * (n - 1);
    int i = std::min(static_cast<int>(f), n - 2);
    rgb c = mix(stops[i], stops[i + 1], smooth(0, 1, f - i));
    for (int y = 0; y < height; ++y) {
      uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = byte(c.b);
      p[1] = byte(c.g);
      p[2] = byte(c.r);
      p[3] = 255;
    }
  }
  return px;
}

struct fish_style {
  rgb back, belly, fin, stripe;
  float stripes;      // stripe count along the body, 0 for none
  float stripe_width;
  float body_height;  // half height of the body, in image heights
};

// Signed distance to an ellipse-like body tapering towards the tail; < 0 inside.
float body_distance(float u, float v, const fish_style& s) {
  float cx = 0.56f, rx = 0.36f;
  float dx = (u - cx) / rx;
  float taper = u < cx ? 0.55f + 0.45f * smooth(0.18f, cx, u) : 1.0f;
  float ry = s.body_height * taper;
  float dy = (v - 0.5f) / ry;
  return (std::sqrt(dx * dx + dy * dy) - 1.0f) * std::min(rx, ry);
}

float tail_distance(float u, float v) {
  // A forked fin: inside when left of the body and within a widening wedge,
  // minus a notch at the back.
  if (u > 0.26f) return 1;
  float spread = 0.06f + (0.26f - u) * 1.25f;
  float wedge = std::fabs(v - 0.5f) - spread;
  float notch = (0.12f - (u - 0.03f)) * 0.8f - std::fabs(v - 0.5f);
  return std::max({wedge, 0.03f - u, notch});
}

float dorsal_distance(float u, float v, const fish_style& s) {
  float top = 0.5f - s.body_height;
  float peak = top - 0.14f;
  if (u < 0.40f || u > 0.68f) return 1;
  float t = (u - 0.40f) / 0.28f;
  float edge = top + (peak - top) * std::sin(t * 3.14159f) * (1.0f - 0.5f * t);
  return std::max(edge - v, v - (top + 0.06f));
}

std::vector<uint8_t> fish(int width, int height, const fish_style& s) {
  std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
  const float aa = 1.5f / height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      float u = (x + 0.5f) / width, v = (y + 0.5f) / height;
      float body = body_distance(u, v, s);
      float fins = std::min(tail_distance(u, v), dorsal_distance(u, v, s));
      float a_body = 1 - smooth(-aa, aa, body);
      float a_fin = (1 - smooth(-aa, aa, fins)) * 0.85f;
      // Back to belly shading, with stripes across the body.
      float depth = clamp01((v - (0.5f - s.body_height)) / (2 * s.body_height));
      rgb c = mix(s.back, s.belly, smooth(0.15f, 0.85f, depth));
      if (s.stripes > 0) {
        float w = std::fabs(std::sin((u - 0.2f) * s.stripes * 3.14159f));
        c = mix(c, s.stripe, (1 - smooth(s.stripe_width, s.stripe_width + 0.12f, w)) * 0.85f);
      }
      // Gill line and eye near the head on the right.
      float gill = std::fabs(std::hypot((u - 0.95f) * 1.6f, v - 0.5f) - 0.27f);
      c = mix(c, s.back, (1 - smooth(0.006f, 0.02f, gill)) * 0.5f * (u > 0.68f));
      float eye = std::hypot((u - 0.80f) * 2.0f, v - 0.45f);
      c = mix(c, {0.04f, 0.04f, 0.06f}, 1 - smooth(0.045f, 0.06f, eye));
      c = mix(c, {1, 1, 1}, 1 - smooth(0.012f, 0.022f, std::hypot((u - 0.807f) * 2.0f, v - 0.437f)));
      // Fins take the fin colour, fading towards their edges.
      rgb out = a_body >= a_fin ? c : mix(s.fin, s.back, 0.2f);
      float alpha = std::max(a_body, a_fin);
      uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = byte(out.r);
      p[1] = byte(out.g);
      p[2] = byte(out.b);
      p[3] = byte(alpha);
    }
  return px;
}

bool write_png(const std::string& path, int w, int h, const std::vector<uint8_t>& px) {
  if (!stbi_write_png(path.c_str(), w, h, 4, px.data(), w * 4)) {
    printf("ERROR: could not write %s\n", path.c_str());
    return false;
  }
  printf("wrote %s (%dx%d)\n", path.c_str(), w, h);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || strcmp(argv[1], "--help") == 0) {
    printf("usage: %s DIR\n  writes pal1.png, fish1.png, fish2.png and fish4.png into DIR\n", argv[0]);
    return argc == 2 ? 0 : 2;
  }
  std::string dir = argv[1];
  const fish_style clown{{0.95f, 0.38f, 0.05f}, {1.00f, 0.62f, 0.25f}, {0.98f, 0.45f, 0.10f},
                         {0.98f, 0.97f, 0.94f}, 3.0f, 0.18f, 0.21f};
  const fish_style silver{{0.16f, 0.30f, 0.46f}, {0.86f, 0.91f, 0.95f}, {0.45f, 0.62f, 0.78f},
                          {0.10f, 0.18f, 0.30f}, 0.0f, 0.0f, 0.18f};
  const fish_style tang{{0.98f, 0.80f, 0.10f}, {1.00f, 0.92f, 0.45f}, {0.95f, 0.70f, 0.08f},
                        {0.12f, 0.16f, 0.40f}, 5.0f, 0.10f, 0.25f};
  bool ok = write_png(dir + "/pal1.png", 64, 4, palette(64, 4)) &&
            write_png(dir + "/fish1.png", 128, 64, fish(128, 64, clown)) &&
            write_png(dir + "/fish2.png", 128, 64, fish(128, 64, silver)) &&
            write_png(dir + "/fish4.png", 128, 64, fish(128, 64, tang));
  return ok ? 0 : 1;
}
