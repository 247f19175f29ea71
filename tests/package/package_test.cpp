// zeal as a library: installed into a prefix, found by CMake and by
// pkg-config, written into a new piece by the template, and packed for
// Debian.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <zeal/base/version.h>

#include "common/media.h"
#include "common/test_files.h"
#include "package/shell.h"

namespace {

const std::string kSource = ZEAL_SOURCE_DIR;
const std::string kBuild = ZEAL_BINARY_DIR;

bool exists(const std::string& path) { return std::filesystem::exists(path); }

// "video" and "audio" as ffprobe lists a film's streams.
std::string stream_kinds(const std::string& film) {
  return run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + film + "' | tr '\\n' ' '");
}

TEST(Package, AnInstalledZealBuildsNewPiecesWithCMakeAndWithPkgConfig) {
  if (kSanitizedBuild) GTEST_SKIP() << "checked in the normal build";
  TempDir t;
  const std::string prefix = t.File("prefix");
  Shell install = shell("cmake --install '" + kBuild + "' --prefix '" + prefix + "'");
  ASSERT_EQ(install.status, 0) << install.output;
  for (const char* file : {"lib/libzeal.a", "include/zeal/app/app.h", "include/zeal/io/audio.h",
                           "include/zeal/base/version.h", "lib/cmake/zeal/zealConfig.cmake",
                           "lib/cmake/zeal/zealConfigVersion.cmake", "lib/pkgconfig/zeal.pc",
                           "bin/zeal-new-piece", "share/zeal/piece-template/piece.cpp"})
    EXPECT_TRUE(exists(prefix + "/" + file)) << file;
  // The library's own headers stay out: a piece cannot come to depend on them.
  for (const char* file : {"include/zeal/io/avstream.h", "include/zeal/app/app_steps.h",
                           "include/zeal/arch/opengl/platform_egl.h"})
    EXPECT_FALSE(exists(prefix + "/" + file)) << file;

  // A new piece from the installed template, built out of tree with
  // find_package(zeal), passes its own test: one second rendered to a film.
  const std::string piece = t.File("pieces/hello-world");
  Shell made = shell("'" + prefix + "/bin/zeal-new-piece' hello-world '" + piece + "'");
  ASSERT_EQ(made.status, 0) << made.output;
  Shell built = shell("cmake -S '" + piece + "' -B '" + piece + "/build' -DCMAKE_PREFIX_PATH='" + prefix +
                      "' && cmake --build '" + piece + "/build' -j 2 && ctest --test-dir '" + piece +
                      "/build' --output-on-failure");
  ASSERT_EQ(built.status, 0) << built.output;
  EXPECT_EQ(stream_kinds(piece + "/build/first-second.mp4"), "video audio ");

  // A piece that asks for a newer zeal than the installed one is told so.
  std::string newer = t.Write("newer/CMakeLists.txt",
                              "cmake_minimum_required(VERSION 3.22)\nproject(newer CXX)\n"
                              "find_package(zeal 0.4 CONFIG REQUIRED)\n");
  Shell refused = shell("cmake -S '" + t.File("newer") + "' -B '" + t.File("newer/build") +
                        "' -DCMAKE_PREFIX_PATH='" + prefix + "'");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.output.find("0.3.0"), std::string::npos) << refused.output;

  // One file, one compiler line through pkg-config; resources through ZEAL_RPATH.
  const std::string pc = "PKG_CONFIG_PATH='" + prefix + "/lib/pkgconfig' ";
  EXPECT_EQ(shell(pc + "pkg-config --modversion zeal").output, std::string(zeal_version()) + "\n");
  Shell compiled = shell("g++ '" + piece + "/hello-world.cpp' -o '" + t.File("one") + "' $(" + pc +
                         "pkg-config --cflags --libs zeal)");
  ASSERT_EQ(compiled.status, 0) << compiled.output;
  Shell rendered = shell("ZEAL_RPATH='" + piece + "/resources' '" + t.File("one") + "' --film '" +
                         t.File("one.mp4") + "' --range 0:30 --no-configurator");
  ASSERT_EQ(rendered.status, 0) << rendered.output;
  EXPECT_EQ(stream_kinds(t.File("one.mp4")), "video audio ");
  // Without its resources the piece says what it misses and fails.
  Shell lost = shell("'" + t.File("one") + "' --film '" + t.File("lost.mp4") + "' --no-configurator");
  EXPECT_EQ(lost.status, 1) << lost.output;
  EXPECT_NE(lost.output.find("ERROR: hello-world: no notes in virtual://root/chord.txt"), std::string::npos)
      << lost.output;
}

TEST(NewPiece, RefusesBadNamesAndFoldersInUse) {
  TempDir t;
  const std::string script = kSource + "/tools/new-piece.sh";
  for (const char* name : {"9lives", "two words", "../up", "-x", "a/b"}) {
    Shell refused = shell("cd '" + t.path + "' && '" + script + "' '" + name + "'");
    EXPECT_EQ(refused.status, 2) << name << ": " << refused.output;
    EXPECT_EQ(refused.output.rfind("ERROR: ", 0) == 0 || refused.output.rfind("usage: ", 0) == 0, true)
        << refused.output;
  }
  EXPECT_TRUE(std::filesystem::is_empty(t.path)) << "nothing written for a refused name";

  // A folder with anything in it is left as it was.
  std::string kept = t.Write("busy/notes.txt", "mine");
  Shell busy = shell("'" + script + "' busy '" + t.File("busy") + "'");
  EXPECT_EQ(busy.status, 1) << busy.output;
  EXPECT_NE(busy.output.find("ERROR: "), std::string::npos) << busy.output;
  EXPECT_EQ(read_file(kept), "mine");
  EXPECT_FALSE(exists(t.File("busy/CMakeLists.txt")));

  Shell help = shell("'" + script + "' --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: new-piece.sh NAME [DIR]"), std::string::npos) << help.output;

  // The name is the program, the source file and the handler's identifier.
  Shell made = shell("'" + script + "' my-first '" + t.File("fresh") + "'");
  ASSERT_EQ(made.status, 0) << made.output;
  std::string source = t.Read("fresh/my-first.cpp");
  EXPECT_NE(source.find("int32_t my_first("), std::string::npos);
  EXPECT_EQ(source.find('@'), std::string::npos) << "a placeholder left in the source";
  EXPECT_NE(t.Read("fresh/CMakeLists.txt").find("add_executable(my-first my-first.cpp)"), std::string::npos);
  EXPECT_TRUE(exists(t.File("fresh/resources/chord.txt")));
}

TEST(Package, DebianPackagesHoldTheFrameworkAndAProgramThatRenders) {
  if (kSanitizedBuild) GTEST_SKIP() << "checked in the normal build";
  TempDir t;
  Shell packed = shell("cd '" + t.path + "' && cpack --config '" + kBuild + "/CPackConfig.cmake' -G DEB -B '" +
                       t.File("debs") + "'");
  ASSERT_EQ(packed.status, 0) << packed.output;
  std::string dev = t.File("debs/libzeal-dev_" + std::string(zeal_version()) + "_amd64.deb");
  std::string program = t.File("debs/vv-plume_" + std::string(zeal_version()) + "_amd64.deb");
  ASSERT_TRUE(exists(dev) && exists(program)) << run("ls '" + t.File("debs") + "'");

  std::string dev_files = shell("dpkg-deb --contents '" + dev + "'").output;
  for (const char* file : {"./usr/lib/libzeal.a", "./usr/include/zeal/app/app.h", "./usr/lib/cmake/zeal/zealConfig.cmake",
                           "./usr/lib/pkgconfig/zeal.pc", "./usr/bin/zeal-new-piece"})
    EXPECT_NE(dev_files.find(file), std::string::npos) << file;
  std::string program_files = shell("dpkg-deb --contents '" + program + "'").output;
  for (const char* file : {"./usr/bin/vv-plume", "./usr/share/vv-plume/resources/dat/pal1.png"})
    EXPECT_NE(program_files.find(file), std::string::npos) << file;
  EXPECT_EQ(program_files.find("libzeal.a"), std::string::npos);
  // The program's libraries come from Debian's archive, found by dpkg-shlibdeps.
  std::string depends = shell("dpkg-deb --field '" + program + "' Depends").output;
  for (const char* package : {"libavcodec", "libportaudio2", "libsndfile1", "libegl1"})
    EXPECT_NE(depends.find(package), std::string::npos) << depends;
  EXPECT_NE(shell("dpkg-deb --field '" + dev + "' Depends").output.find("libavformat-dev"), std::string::npos);

  // Unpacked anywhere, the program finds its resources and renders.
  ASSERT_EQ(shell("dpkg-deb -x '" + program + "' '" + t.File("root") + "'").status, 0);
  Shell rendered = shell("'" + t.File("root/usr/bin/vv-plume") + "' --diskwriter '" + t.File("out") +
                         "' --range 30:32 --no-configurator");
  ASSERT_EQ(rendered.status, 0) << rendered.output;
  EXPECT_EQ(numbered_frames(t.File("out"), "vv-plume"), (std::vector<int>{30, 31})) << rendered.output;
  EXPECT_TRUE(exists(t.File("out/vv-plume.wav")));
}

}  // namespace
