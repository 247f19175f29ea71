#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <zeal/base/vpath.h>
#include "common/test_files.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Rpath(const char* value) {
  if (value) setenv("ZEAL_RPATH", value, 1);
  else unsetenv("ZEAL_RPATH");
  array list{};
  push_back_rpath(&list);
  std::vector<std::string> out;
  for (int32_t i = 0; i < array_count(&list, sizeof(array)); ++i) {
    auto* item = static_cast<array*>(array_element(&list, sizeof(array), i));
    out.emplace_back(static_cast<char*>(item->data), item->size - 1);
    array_reset(item);
  }
  array_reset(&list);
  return out;
}

// The candidates vpath gives, one after the other in its list.
std::vector<std::string> Candidates(const char* path) {
  array list = vpath(path);
  std::vector<std::string> out;
  for (int32_t at = 0; list.data != nullptr && at < list.size; at += static_cast<int32_t>(out.back().size()) + 1)
    out.emplace_back(static_cast<const char*>(list.data) + at);
  array_reset(&list);
  return out;
}

std::string Fresh(const char* path, int64_t* stamp) {
  array found = vfreshfile(path, stamp);
  std::string out;
  if (found.size > 0) {
    EXPECT_EQ(static_cast<char*>(found.data)[found.size - 1], '\0');
    out = static_cast<char*>(found.data);
  }
  array_reset(&found);
  return out;
}

using V = std::vector<std::string>;

}  // namespace

TEST(Rpath, SplitsOnColonsDropsEmptyEntriesAndQuotedEntriesKeepColonsAndTakeEscapes) {
  EXPECT_EQ(Rpath(nullptr), V{});
  EXPECT_EQ(Rpath(":::"), V{});
  EXPECT_EQ(Rpath("a::b:"), (V{"a", "b"}));
  EXPECT_EQ(Rpath("/x y/z"), (V{"/x y/z"}));
  EXPECT_EQ(Rpath("\"x:y\":z"), (V{"x:y", "z"}));
  EXPECT_EQ(Rpath("\"a\\\"b\\\\c\""), (V{"a\"b\\c"}));
  EXPECT_EQ(Rpath("\"\\:x\""), (V{":x"}));
  // One character between quotes is taken plainly, quotes included.
  EXPECT_EQ(Rpath("\"a\":b"), (V{"\"a\"", "b"}));
  EXPECT_EQ(Rpath("\"\":b"), (V{"\"\"", "b"}));
  // Unclosed: a plain entry up to the ':'; a trailing backslash stays.
  EXPECT_EQ(Rpath("\"x:y"), (V{"\"x", "y"}));
  EXPECT_EQ(Rpath("\"ab\\"), (V{"\"ab\\"}));
  // After a quoted entry only ':' goes on; the rest is ignored.
  EXPECT_EQ(Rpath("\"ab\"c:d"), (V{"ab"}));
  EXPECT_EQ(Rpath("a\"b\":c"), (V{"a\"b\"", "c"}));
}

// Every form after the first is tried only once the ones before it failed, so
// these also check that a failed form gives back the position it took.
// The test programs have no resource directory beside them: only ZEAL_RPATH
// is searched, and a missing directory never turns into the root.
TEST(Vpath, VirtualFormsGiveOneCandidatePerDirectory) {
  ASSERT_EQ(get_resource_path().size, 0);
  setenv("ZEAL_RPATH", "X:Y", 1);
  EXPECT_EQ(Candidates("virtual://root/perf.log"), (V{"X/perf.log", "Y/perf.log"}));
  EXPECT_EQ(Candidates("virtual://data/a.png"), (V{"X/data/a.png", "Y/data/a.png"}));
  EXPECT_EQ(Candidates("virtual://shaders/s.glsl"), (V{"X/shaders/s.glsl", "Y/shaders/s.glsl"}));
  EXPECT_EQ(Candidates("virtual://root/"), (V{"X/", "Y/"}));
  EXPECT_EQ(Candidates("virtual://material/m/x"), (V{"/mnt/storage/private-media/material/m/x"}));
  EXPECT_EQ(Candidates("virtual://os///tmp/x"), (V{"/tmp/x"}));
  EXPECT_EQ(Candidates("virtual://os/tmp"), (V{"/tmp"}));
  unsetenv("ZEAL_RPATH");
  EXPECT_EQ(Candidates("virtual://root/perf.log"), V{});
}

TEST(Vpath, OtherPathsPassThrough) {
  setenv("ZEAL_RPATH", "X", 1);
  for (const char* path : {"virtual://rootx/a", "/usr/share/a", "virtual://root", "virtual:/root/a",
                           "VIRTUAL://root/a", "relative/file", "virtual://"}) {
    EXPECT_EQ(Candidates(path), (V{path}));
  }
  unsetenv("ZEAL_RPATH");
}

TEST(Vpath, ResourceDirectorySitsBesideOrUnderShare) {
  TempDir t;
  std::string exe = t.Write("bin/prog", "");
  auto found = [&](const char* program) {
    array dir{};
    std::string out = find_resource_dir(program, &dir) ? static_cast<char*>(dir.data) : "";
    array_reset(&dir);
    return out;
  };
  EXPECT_EQ(found(exe.c_str()), "");
  EXPECT_EQ(found("prog"), "");
  EXPECT_EQ(found(nullptr), "");
  fs::create_directories(t.File("share/prog/resources"));
  EXPECT_EQ(found(exe.c_str()), fs::canonical(t.File("share/prog/resources")).string());
  fs::create_directories(t.File("bin/resources"));
  EXPECT_EQ(found(exe.c_str()), fs::canonical(t.File("bin/resources")).string());
  // A plain file named "resources" is not a directory.
  fs::remove_all(t.File("bin/resources"));
  fs::remove_all(t.File("share"));
  t.Write("bin/resources", "x");
  EXPECT_EQ(found(exe.c_str()), "");
}

// The first directory's name holds a colon, so its entry is quoted.
TEST(Vfreshfile, ChoosesTheNewestCandidateAndKeepsTheEarlierOnTies) {
  TempDir a, b;
  std::string rpath = "\"" + a.path + "/x:y\":" + b.path;
  setenv("ZEAL_RPATH", rpath.c_str(), 1);
  std::string fa = a.Write("x:y/dat/f.txt", "x", 1000000);
  std::string fb = b.Write("dat/f.txt", "x", 2000000);
  int64_t stamp = 0;
  EXPECT_EQ(Fresh("virtual://root/dat/f.txt", &stamp), fb);
  EXPECT_EQ(stamp, 2000000);
  // Nothing newer than the stamp: empty, stamp unchanged.
  EXPECT_EQ(Fresh("virtual://root/dat/f.txt", &stamp), "");
  EXPECT_EQ(stamp, 2000000);
  stamp = 1500000;
  EXPECT_EQ(Fresh("virtual://root/dat/f.txt", &stamp), fb);

  a.Write("x:y/dat/f.txt", "x", 3000000);
  b.Write("dat/f.txt", "x", 3000000);
  stamp = 0;
  EXPECT_EQ(Fresh("virtual://root/dat/f.txt", &stamp), fa);
  EXPECT_EQ(stamp, 3000000);

  fs::remove(fa);
  EXPECT_EQ(Fresh("virtual://root/dat/f.txt", nullptr), fb);
  fs::remove(fb);
  stamp = 5;
  EXPECT_EQ(Fresh("virtual://root/dat/f.txt", &stamp), "");
  EXPECT_EQ(stamp, 5);
  // A plain path passes through.
  std::string plain = a.Write("plain", "x", 4000000);
  EXPECT_EQ(Fresh(plain.c_str(), nullptr), plain);
  EXPECT_EQ(Fresh(nullptr, nullptr), "");
  unsetenv("ZEAL_RPATH");
}
