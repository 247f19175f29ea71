// The tutorial's commands, run as a reader would run them: every ```sh block
// of docs/writing-a-piece.md, in order, in one shell that starts in the
// checkout with a scratch home folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/media.h"
#include "common/test_files.h"
#include "package/shell.h"

namespace {

// The bodies of the page's ```sh blocks, joined in order.
std::string shell_blocks(const std::string& markdown) {
  std::istringstream lines(markdown);
  std::string line, script;
  bool inside = false;
  while (std::getline(lines, line)) {
    if (!inside && line == "```sh") inside = true;
    else if (inside && line == "```") inside = false;
    else if (inside) script += line + "\n";
  }
  return script;
}

// A film whose pictures and sound both last `ms`; sound ends on a whole
// block of samples, a few milliseconds on.
void expect_lasts(const std::string& film, long ms) {
  std::vector<long> film_ends = ends(film);
  ASSERT_EQ(film_ends.size(), 2u) << film;
  EXPECT_EQ(film_ends[0], ms) << film;
  EXPECT_NEAR(film_ends[1], ms, 24) << film;
}

TEST(Tutorial, EveryCommandOfWritingAPieceRuns) {
  if (kSanitizedBuild) GTEST_SKIP() << "checked in the normal build";
  // The page speaks of zeal's build folder as `build`, as the README makes it.
  if (std::filesystem::path(ZEAL_BINARY_DIR) != std::filesystem::path(ZEAL_SOURCE_DIR) / "build")
    GTEST_SKIP() << "the tutorial assumes zeal is built in " ZEAL_SOURCE_DIR "/build";
  std::string script = shell_blocks(read_file(ZEAL_SOURCE_DIR "/docs/writing-a-piece.md"));
  ASSERT_NE(script.find("tools/new-piece.sh hello"), std::string::npos) << script;

  TempDir home;
  std::string file = home.Write("tutorial.sh", "set -euxo pipefail\n" + script);
  // No X display: the renders draw through EGL, as they would on a server.
  Shell ran = shell("cd '" ZEAL_SOURCE_DIR "' && env -u DISPLAY HOME='" + home.path + "' bash '" + file + "'");
  ASSERT_EQ(ran.status, 0) << ran.output;

  // What the page says the commands make.
  expect_lasts(home.File("pieces/hello/hello.mp4"), 12000);
  expect_lasts(home.File("pieces/hello/three-seconds.mp4"), 3000);
  EXPECT_EQ(numbered_frames(home.File("pieces/hello/frames"), "hello-draft"), (std::vector<int>{60, 61, 62}));
  expect_lasts(home.File("hello-one.mp4"), 1000);
  expect_lasts(home.File("take.mp4"), 2500);
}

}  // namespace
