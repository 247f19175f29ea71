#include <zeal/arch/opengl/configurator.h>

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zeal/arch/opengl/display.h>
#include <zeal/arch/opengl/platform_glut.h>
#include <zeal/arch/opengl/input.h>
#include <zeal/arch/opengl/ui.h>
#include <zeal/arch/opengl/ui_text.h>
#include <zeal/arch/opengl/ui_widgets.h>
#include <zeal/base/log.h>
#include <zeal/base/thread.h>

namespace {

constexpr int32_t PATH_CAPACITY = CONFIGURATOR_PATH_CAPACITY;
constexpr int32_t KEY_RETURN = 13;
constexpr int32_t KEY_ESCAPE = 27;
constexpr float RATIO = static_cast<float>(CONFIGURATOR_WIDTH) / CONFIGURATOR_HEIGHT;

// Controls in interface units: left, right, top, bottom.
const float CONTROLS[CONFIG_CONTROLS][4] = {
    {-1.6f, 0.6f, 0.5f, 0.3f},      // Full screen
    {-1.6f, 0.6f, 0.2f, 0.0f},      // Render to disk
    {-1.6f, 1.6f, -0.15f, -0.4f},   // directory
    {0.0f, 0.7f, -0.6f, -0.85f},    // Cancel
    {0.85f, 1.6f, -0.6f, -0.85f},   // Run
};

}  // namespace

struct configurator {
  int32_t fullscreen;
  int32_t diskwriter;
  char path[PATH_CAPACITY];
  int done;
  int cancelled;
  int window;
  display_device device;  // a private device: its slots carry this window's input
  display_context context;
  ui* u;
  char title[256];
};

namespace {

using Configurator = configurator;

int is_directory(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] != 0 && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

void finish(Configurator* c, int cancelled) {
  c->done = 1;
  c->cancelled = cancelled;
}

void draw(Configurator* c) {
  glutSetWindow(c->window);
  glViewport(0, 0, glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT));
  glClearColor(0.93f, 0.93f, 0.91f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  ui* u = c->u;
  ui_define(u, nullptr);
  const float title_at[2] = {-1.6f, 0.9f};
  const float title_box[4] = {-1.6f, 1.6f, 0.0f, 0.0f};
  ui_text_draw(u, title_at, 3, title_box, "%s", c->title);
  ui_checkbox(u, CONTROLS[CONFIG_FULLSCREEN], "Full screen", &c->fullscreen, 1);
  ui_checkbox(u, CONTROLS[CONFIG_DISKWRITER], "Render to disk", &c->diskwriter, 1);
  const float label_at[2] = {-1.6f, -0.02f};
  ui_text_draw(u, label_at, 2, title_box, "Directory for the rendered files:");
  ui_textfield(u, CONTROLS[CONFIG_PATH], c->path, PATH_CAPACITY, c->diskwriter);
  if (ui_button(u, CONTROLS[CONFIG_CANCEL], "Cancel", 1)) finish(c, 1);
  if (ui_button(u, CONTROLS[CONFIG_RUN], "Run", 1)) finish(c, 0);
  int32_t count = 0;
  const int32_t* keys = ui_keys(u, &count);
  for (int32_t i = 0; i < count && !c->done; ++i) {
    if ((keys[i] & 0xFF) == KEY_RETURN) finish(c, 0);
    if ((keys[i] & 0xFF) == KEY_ESCAPE) finish(c, 1);
  }
  ui_commit(u);
  glutSwapBuffers();
}

void send(Configurator* c, uint32_t id, int32_t code, int32_t value, int32_t code2, int32_t value2) {
  const int32_t event[INPUT_EVENT_WORDS] = {static_cast<int32_t>(id), 0, code, value, code2, value2};
  for (input_slot& slot : c->device.slots)
    if (event_hooks_send(&slot, event, INPUT_EVENT_WORDS)) return;
}

void on_display() {
  if (glut_configurator() != nullptr) draw(glut_configurator());
}

void on_reshape(int, int) { glutPostRedisplay(); }

// Every press, release and key gets a frame of its own, so that a quick
// click is seen as a press and then a release.
void on_mouse(int, int state, int x, int y) {
  Configurator* c = glut_configurator();
  if (c == nullptr) return;
  send(c, INPUT_MOUSE_ID, 4, x, 5, y);
  if (state == GLUT_DOWN) send(c, INPUT_MOUSE_ID, 1, 0, 0, 0);
  else if (state == GLUT_UP) send(c, INPUT_MOUSE_ID, 2, 0, 0, 0);
  draw(c);
}

void on_motion(int x, int y) {
  Configurator* c = glut_configurator();
  if (c == nullptr) return;
  send(c, INPUT_MOUSE_ID, 4, x, 5, y);
  glutPostRedisplay();
}

void on_keyboard(unsigned char key, int, int) {
  Configurator* c = glut_configurator();
  if (c == nullptr) return;
  send(c, INPUT_KEYBOARD_ID, 1, key, 4, static_cast<signed char>(key));
  draw(c);
}

void on_close() {
  if (glut_configurator() != nullptr) finish(glut_configurator(), 1);
}

void open_window(Configurator* c) {
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE);
  glutInitWindowSize(CONFIGURATOR_WIDTH, CONFIGURATOR_HEIGHT);
  glutInitWindowPosition(200, 200);
  c->window = glutCreateWindow(c->title);
  glutDisplayFunc(on_display);
  glutReshapeFunc(on_reshape);
  glutMouseFunc(on_mouse);
  glutMotionFunc(on_motion);
  glutPassiveMotionFunc(on_motion);
  glutKeyboardFunc(on_keyboard);
  glutCloseFunc(on_close);
}

void close_window(Configurator* c) {
  glutSetWindow(c->window);
  glutCloseFunc(nullptr);  // freeglut calls it when it gets round to the destruction
  glutDestroyWindow(c->window);
  glutMainLoopEvent();
}

}  // namespace

void configurator_default_directory(char* out, int32_t capacity) {
  if (capacity <= 0) return;
  out[0] = 0;
  const char* documents = getenv("XDG_DOCUMENTS_DIR");
  const char* home = getenv("HOME");
  if (is_directory(documents)) {
    snprintf(out, capacity, "%s", documents);
    return;
  }
  if (home == nullptr) return;
  char candidate[PATH_CAPACITY];
  snprintf(candidate, sizeof(candidate), "%s/Documents", home);
  snprintf(out, capacity, "%s", is_directory(candidate) ? candidate : home);
}

void configurator_control_centre(int control, int32_t pixel[2]) {
  const float* r = CONTROLS[control < 0 ? 0 : control >= CONFIG_CONTROLS ? CONFIG_CONTROLS - 1 : control];
  float x = 0.5f * (r[0] + r[1]), y = 0.5f * (r[2] + r[3]);
  // The check boxes react on their whole row; aim at the box itself.
  if (control == CONFIG_FULLSCREEN || control == CONFIG_DISKWRITER) x = r[0] + 0.5f * (r[2] - r[3]);
  pixel[0] = static_cast<int32_t>((x / RATIO + 1.0f) * 0.5f * CONFIGURATOR_WIDTH);
  pixel[1] = static_cast<int32_t>((1.0f - y) * 0.5f * CONFIGURATOR_HEIGHT);
}

int configurator_available() { return glut_is_initialized() && glut_configurator() == nullptr; }

int configurator_run(const char* title, configurator_choices* choices) {
  if (!glut_is_initialized() || glut_configurator() != nullptr) {
    log_warning("no display for the configuration window");
    return 0;
  }
  auto* c = static_cast<Configurator*>(calloc(1, sizeof(Configurator)));
  if (c == nullptr) return 0;
  c->fullscreen = choices->fullscreen;
  c->diskwriter = choices->diskwriter;
  snprintf(c->path, PATH_CAPACITY, "%s", choices->path);
  snprintf(c->title, sizeof(c->title), "%s", title != nullptr ? title : "zeal");
  display_input_init(c->device.slots);
  c->context.device = &c->device;
  ui_make(&c->u);
  if (c->u == nullptr) {
    free(c);
    return 0;
  }
  ui_attach(c->u, &c->context);
  glut_set_configurator(c);
  open_window(c);
  while (!c->done) {
    glutMainLoopEvent();
    if (!c->done) inthread_sleep(10.0);
  }
  close_window(c);
  glut_set_configurator(nullptr);
  int cancelled = c->cancelled;
  if (!cancelled) {
    choices->fullscreen = c->fullscreen ? 1 : 0;
    choices->diskwriter = c->diskwriter;
    snprintf(choices->path, PATH_CAPACITY, "%s", c->path);
  }
  ui_detach(c->u, &c->context);
  ui_destroy(&c->u);
  for (input_slot& slot : c->device.slots) array_reset(&slot.handlers);
  free(c);
  return cancelled;
}
