// The immediate-mode interface: ids, hot and active, the mouse state from
// real input events, measures at 1280 x 720, clip areas read back from GL.
#include <GL/glew.h>
#include <GL/freeglut.h>

#include "arch/opengl/ui.h"
#include "gl_fixture.h"

namespace {

struct Ui : GlTest {
  ui* u = nullptr;
  display_context context{};
  void SetUp() override {
    GlTest::SetUp();
    ui_make(&u);
    context.device = window->device;
    ui_attach(u, &context);
    *ui_mouse_state() = ui_mouse{};
  }
  void TearDown() override {
    ui_detach(u, &context);
    ui_destroy(&u);
    GlTest::TearDown();
  }
};

hid id(uint32_t den, uint32_t num) { return hid{den, num}; }

}  // namespace

TEST(UiIds, PathsBecomeContinuedFractions) {
  const int32_t p0[] = {0}, p1[] = {1}, p00[] = {0, 0}, p01[] = {0, 1}, p000[] = {0, 0, 0};
  EXPECT_TRUE(hid_equal(hid_make(p0, 1), id(2, 1)));
  EXPECT_TRUE(hid_equal(hid_make(p1, 1), id(3, 1)));
  EXPECT_TRUE(hid_equal(hid_make(p00, 2), id(5, 2)));
  EXPECT_TRUE(hid_equal(hid_make(p01, 2), id(7, 3)));
  EXPECT_TRUE(hid_equal(hid_make(p000, 3), id(12, 5)));
  const int32_t low[] = {-3}, late_low[] = {0, -2}, zero_front[] = {-2};
  EXPECT_TRUE(hid_is_none(hid_make(low, 1)));
  EXPECT_TRUE(hid_is_none(hid_make(late_low, 2)));
  EXPECT_TRUE(hid_is_none(hid_make(zero_front, 1)));  // 1/0
  const int32_t huge[] = {2000000000, 2000000000, 2000000000};
  EXPECT_TRUE(hid_is_none(hid_make(huge, 3)));

  uint32_t m[4];
  hid_to_mobius(2, 1, m);
  EXPECT_EQ(m[0], 2u);
  EXPECT_EQ(m[1], 1u);
  EXPECT_EQ(m[2], 1u);
  EXPECT_EQ(m[3], 0u);
  hid_to_mobius(5, 2, m);
  EXPECT_EQ(m[1], 2u);
  EXPECT_EQ(m[3], 1u);
}

TEST_F(Ui, ChildIdsRepeatEveryFrameAndLayoutsNest) {
  for (int frame = 0; frame < 2; ++frame) {
    ui_define(u, nullptr);
    EXPECT_TRUE(hid_equal(ui_id(u), id(5, 2)));
    EXPECT_TRUE(hid_equal(ui_id(u), id(7, 3)));
    EXPECT_TRUE(hid_equal(ui_id(u), id(9, 4)));
    const int32_t path[] = {0, 0};
    hid panel = hid_make(path, 2);
    float corner[2];
    ui_anchor(u, corner);
    EXPECT_FLOAT_EQ(corner[0], -1280.0f / 720.0f);
    EXPECT_FLOAT_EQ(corner[1], 1.0f);
    int32_t index = ui_layout_begin(u, panel, nullptr, nullptr);
    EXPECT_EQ(index, 1);  // found again in the second frame
    // The first child of 2/5 is the path (0, 0, 0).
    EXPECT_TRUE(hid_equal(ui_id(u), id(12, 5)));
    const float moved[2] = {0.5f, 0.25f};
    ui_set_anchor(u, moved);
    EXPECT_EQ(ui_add(u, 1, 2, 3), 0);  // no layout function
    ui_layout_end(u);
    ui_layout_end(u);  // not begun: nothing
    EXPECT_TRUE(hid_equal(ui_id(u), id(11, 5)));
    ui_anchor(u, corner);
    EXPECT_FLOAT_EQ(corner[1], 1.0f);
    ui_commit(u);
  }
}

TEST_F(Ui, HotStaysWhileAnotherWidgetIsActive) {
  ui_highlight(u, id(5, 2));
  EXPECT_TRUE(ui_is_hot(u, id(5, 2)));
  ui_activate(u, id(5, 2));
  ui_highlight(u, id(7, 3));
  EXPECT_TRUE(ui_is_hot(u, id(5, 2)));
  ui_away(u, id(7, 3));
  EXPECT_TRUE(ui_is_hot(u, id(5, 2)));
  ui_deactivate(u);
  EXPECT_TRUE(ui_is_none_active(u));
  ui_highlight(u, id(7, 3));
  EXPECT_TRUE(ui_is_hot(u, id(7, 3)));
  ui_away(u, id(7, 3));
  EXPECT_TRUE(hid_is_none(u->hot));
}

TEST_F(Ui, MouseStateFollowsTheGlutCallbacks) {
  do_mouse_move(100, 200);
  do_mouse_move(103, 204);
  ui_mouse* m = ui_mouse_state();
  EXPECT_EQ(m->x, 103);
  EXPECT_EQ(m->y, 204);
  EXPECT_FLOAT_EQ(m->distance, 228.6068f);  // 223.6068 + 5
  do_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 103, 204);
  EXPECT_EQ(m->origin_x, 103);
  EXPECT_FLOAT_EQ(m->distance, 0.0f);
  do_mouse_move(175, 132);
  float motion[2];
  ui_mouse_action_get_motion(u, motion);
  EXPECT_NEAR(motion[0], 0.2f, 1e-6);  // 72 px right and up
  EXPECT_NEAR(motion[1], 0.2f, 1e-6);
  EXPECT_NEAR(ui_mouse_action_aggregate_distance(u), 2.0f * 101.0f / 720.0f, 1e-6);
  EXPECT_EQ(ui_mouse_action_started(), 1);
  EXPECT_EQ(ui_mouse_action_started(), 0);
  do_mouse(GLUT_RIGHT_BUTTON, GLUT_UP, 175, 132);  // any button
  EXPECT_EQ(ui_mouse_action_ended(), 1);
  EXPECT_EQ(ui_mouse_action_ended(), 0);

  // Press and release with no look in between: only the end is seen.
  do_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
  do_mouse(GLUT_LEFT_BUTTON, GLUT_UP, 0, 0);
  EXPECT_EQ(ui_mouse_action_started(), 0);
  EXPECT_EQ(ui_mouse_action_ended(), 1);
  EXPECT_EQ(ui_mouse_action_ended(), 0);

  // Detached: events no longer reach the interface.
  ui_detach(u, &context);
  do_mouse_move(5, 5);
  EXPECT_EQ(m->x, 175);
  ui_attach(u, &context);
  const int32_t short_event[3] = {static_cast<int32_t>(INPUT_MOUSE_ID), 0, 4};
  ui_mouse_handler(u, short_event, 3);
  EXPECT_EQ(m->x, 175);
}

TEST_F(Ui, MeasuresAtHdSize) {
  EXPECT_FLOAT_EQ(u->pixel_ratio, 1280.0f / 720.0f);
  const int32_t px[2] = {72, 72};
  float units[2];
  ui_pixels_into_coordinates(u, units, px);
  EXPECT_FLOAT_EQ(units[0], 0.2f);
  EXPECT_FLOAT_EQ(units[1], 0.2f);
  float extent[4];
  ui_extent(u, extent);
  EXPECT_FLOAT_EQ(extent[0], -1.7777778f);
  EXPECT_FLOAT_EQ(extent[1], 1.7777778f);
  EXPECT_FLOAT_EQ(extent[2], 1.0f);
  EXPECT_FLOAT_EQ(extent[3], -1.0f);
  const float half[2] = {1.0f, 0.5f};
  int32_t back[2];
  ui_coordinates_into_pixels(u, back, half);
  EXPECT_EQ(back[0], 360);
  EXPECT_EQ(back[1], 180);
  const float corner[2] = {1.7777778f, 1.0f};
  in_pixels(1, back, corner);
  EXPECT_EQ(back[0], 1280);
  EXPECT_EQ(back[1], 720);
  EXPECT_EQ(ui_font_height_in_pixels(u, 2), 13);
  EXPECT_FLOAT_EQ(ui_vertical_period(u), 26.0f / 720.0f);
  EXPECT_FLOAT_EQ(ui_horizontal_period(u), 26.0f / 720.0f / (1280.0f / 720.0f));
  u->keep_aspect = 0;
  ui_pixels_into_coordinates(u, units, px);
  EXPECT_FLOAT_EQ(units[0], 0.1125f);
}

TEST_F(Ui, MouseInsideUsesInterfaceCoordinates) {
  do_mouse_move(640, 360);
  const float centre[4] = {-0.1f, 0.1f, 0.1f, -0.1f};
  EXPECT_TRUE(ui_mouse_inside(u, centre));
  do_mouse_move(0, 0);  // top left: (-1.78, 1)
  const float corner[4] = {-1.8f, -1.7f, 1.0f, 0.9f};
  EXPECT_TRUE(ui_mouse_inside(u, corner));
  EXPECT_FALSE(ui_mouse_inside(u, centre));
}

TEST_F(Ui, DefineSetsTheProjectionAndCommitRestoresIt) {
  GLfloat before[16], during[16], after[16];
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glGetFloatv(GL_PROJECTION_MATRIX, before);
  ui_define(u, nullptr);
  glGetFloatv(GL_PROJECTION_MATRIX, during);
  EXPECT_FLOAT_EQ(during[0], 720.0f / 1280.0f);  // 2 / (r - -r)
  EXPECT_FLOAT_EQ(during[5], 1.0f);
  EXPECT_TRUE(glIsEnabled(GL_MULTISAMPLE));
  ui_commit(u);
  glGetFloatv(GL_PROJECTION_MATRIX, after);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(after[i], before[i]);
  EXPECT_FALSE(glIsEnabled(GL_MULTISAMPLE));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Ui, NestedClipAreasRestoreTheOuterScissorBox) {
  ui_define(u, nullptr);
  const float outer[4] = {-1.0f, 1.0f, 0.5f, -0.5f};
  ui_cliparea_begin(u, outer);
  GLint box[4];
  glGetIntegerv(GL_SCISSOR_BOX, box);
  // x: 640 * (-1 / 1.78 + 1) = 280; y from the bottom: 180; 720 x 360.
  EXPECT_EQ(box[0], 280);
  EXPECT_EQ(box[1], 180);
  EXPECT_EQ(box[2], 720);
  EXPECT_EQ(box[3], 360);
  EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
  const float inner[4] = {0.0f, 0.5f, 0.25f, 0.0f};
  ui_cliparea_begin(u, inner);
  glGetIntegerv(GL_SCISSOR_BOX, box);
  EXPECT_EQ(box[0], 640);
  EXPECT_EQ(box[1], 360);
  EXPECT_EQ(box[3], 90);
  // Clearing inside the inner area touches only its pixels.
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  EXPECT_EQ(read_pixel(650, 370), 0xFFFFFFFFu);
  EXPECT_NE(read_pixel(600, 370), 0xFFFFFFFFu);
  ui_cliparea_end(u);
  glGetIntegerv(GL_SCISSOR_BOX, box);
  EXPECT_EQ(box[0], 280);
  EXPECT_EQ(box[2], 720);
  EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
  ui_cliparea_end(u);
  EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
  ui_cliparea_end(u);  // one too many: still off, no error
  EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
  ui_commit(u);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
