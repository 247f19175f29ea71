#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "base/stream.h"
#include "base/stream_sndfile.h"

namespace {

struct TempFile {
  std::string path;
  TempFile() {
    char name[] = "/tmp/zeal-stream-XXXXXX";
    int fd = mkstemp(name);
    close(fd);
    path = name;
  }
  ~TempFile() { unlink(path.c_str()); }
  void Write(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }
  std::string Read() const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
};

}  // namespace

TEST(Stream, NullStreamStaysUsableAndHoldsNothing) {
  stream* s = nullptr;
  stream_make_null(&s);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, STREAM_NULL);
  char buffer[4] = {};
  EXPECT_FALSE(stream_blockread(&s, buffer, 4));
  EXPECT_FALSE(stream_blockwrite(&s, "abcd", 4));
  stream_position(&s, 10);
  EXPECT_FALSE(stream_hasfailed(&s));
  EXPECT_EQ(stream_endposition(&s), 0);
  EXPECT_EQ(stream_getposition(&s), 0);
  EXPECT_EQ(stream_firstposition(), 0);
  stream_destroy(&s);
  EXPECT_EQ(s, nullptr);
  stream_destroy(&s);  // twice is harmless
  // A slot with no record behaves as a failed stream.
  EXPECT_TRUE(stream_hasfailed(&s));
  EXPECT_FALSE(stream_blockread(&s, buffer, 4));
  EXPECT_EQ(stream_endposition(&s), 0);
}

TEST(Stream, ArrayWritesGrowAndReadsAreWholeBlocks) {
  array a{};
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_READ | STREAM_WRITE, &a);
  EXPECT_EQ(s->kind, STREAM_ARRAY);
  EXPECT_FALSE(stream_blockwrite(&s, "", 0));  // zero bytes at position 0
  EXPECT_TRUE(stream_blockwrite(&s, "abcd", 4));
  EXPECT_EQ(a.size, 4);
  EXPECT_EQ(a.capacity, 8);
  EXPECT_EQ(stream_getposition(&s), 4);
  EXPECT_TRUE(stream_blockwrite(&s, "efgh", 4));
  EXPECT_EQ(stream_getposition(&s), 8);
  EXPECT_EQ(stream_endposition(&s), 8);
  EXPECT_EQ(memcmp(a.data, "abcdefgh", 8), 0);

  stream_position(&s, 2);
  char buffer[16] = {};
  EXPECT_FALSE(stream_blockread(&s, buffer, 10));  // 6 left
  EXPECT_EQ(stream_getposition(&s), 2);
  EXPECT_FALSE(stream_blockread(&s, buffer, 0));
  EXPECT_FALSE(stream_blockread(&s, buffer, -3));
  EXPECT_TRUE(stream_blockread(&s, buffer, 6));
  EXPECT_EQ(std::string(buffer, 6), "cdefgh");
  EXPECT_EQ(stream_getposition(&s), 8);

  stream_position(&s, 6);
  EXPECT_TRUE(stream_blockwrite(&s, "XYZ", 3));  // overwrites and extends
  EXPECT_EQ(a.size, 9);
  EXPECT_EQ(memcmp(a.data, "abcdefXYZ", 9), 0);
  EXPECT_FALSE(stream_hasfailed(&s));
  stream_destroy(&s);
  EXPECT_EQ(a.size, 9);  // the stream never owns its array
  array_reset(&a);
}

TEST(Stream, ArraySeekToTheEndOrBeforeTheStartFailsTheStream) {
  array a{};
  array_cats(&a, "0123");
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_READ, &a);
  stream_position(&s, 3);
  EXPECT_FALSE(stream_hasfailed(&s));
  stream_position(&s, 4);
  EXPECT_TRUE(stream_hasfailed(&s));
  char c;
  EXPECT_FALSE(stream_blockread(&s, &c, 1));
  EXPECT_EQ(stream_getposition(&s), 0);
  EXPECT_EQ(stream_endposition(&s), 0);
  stream_position(&s, 0);  // failure is sticky
  EXPECT_TRUE(stream_hasfailed(&s));
  stream_destroy(&s);

  // A negative position would read before the array.
  stream_make_on_array(&s, STREAM_READ, &a);
  stream_position(&s, -2);
  EXPECT_TRUE(stream_hasfailed(&s));
  EXPECT_FALSE(stream_blockread(&s, &c, 1));
  stream_destroy(&s);

  stream_make_on_array(&s, STREAM_READ, nullptr);
  EXPECT_TRUE(stream_hasfailed(&s));
  EXPECT_EQ(s->kind, STREAM_NULL);
  stream_destroy(&s);
  array_reset(&a);
}

TEST(Stream, ArrayModesAndBadSizesAreRefused) {
  array a{};
  array_cats(&a, "abcdefgh");
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_WRITE, &a);
  char buffer[8];
  EXPECT_FALSE(stream_blockread(&s, buffer, 2));
  stream_position(&s, 6);
  // A negative size must not copy from beyond the buffer.
  EXPECT_FALSE(stream_blockwrite(&s, "xy", -4));
  EXPECT_EQ(stream_getposition(&s), 6);
  EXPECT_TRUE(stream_blockwrite(&s, "xy", 0));
  stream_destroy(&s);

  stream_make_on_array(&s, STREAM_READ, &a);
  EXPECT_FALSE(stream_blockwrite(&s, "xy", 2));
  EXPECT_EQ(memcmp(a.data, "abcdefgh", 8), 0);
  stream_destroy(&s);

  array failed{};
  array_fail(&failed);
  stream_make_on_array(&s, STREAM_READ | STREAM_WRITE, &failed);
  EXPECT_EQ(stream_endposition(&s), -1);
  EXPECT_FALSE(stream_blockwrite(&s, "xy", 2));
  EXPECT_FALSE(stream_blockread(&s, buffer, 1));
  stream_position(&s, 0);
  EXPECT_TRUE(stream_hasfailed(&s));
  stream_destroy(&s);
  array_reset(&a);
}

TEST(Stream, FilesKeepContentsAreCreatedAndSeek) {
  TempFile f;
  f.Write("hello world");
  stream* s = nullptr;
  stream_make_on_file(&s, STREAM_WRITE, f.path.c_str());
  ASSERT_FALSE(stream_hasfailed(&s));
  EXPECT_EQ(s->kind, STREAM_FILE);
  EXPECT_EQ(stream_endposition(&s), 11);
  EXPECT_EQ(stream_getposition(&s), 0);
  char buffer[16] = {};
  EXPECT_FALSE(stream_blockread(&s, buffer, 1));  // write only
  stream_position(&s, 6);
  EXPECT_TRUE(stream_blockwrite(&s, "W", 1));
  EXPECT_EQ(stream_getposition(&s), 7);
  EXPECT_FALSE(stream_blockwrite(&s, "W", -1));
  stream_destroy(&s);
  EXPECT_EQ(f.Read(), "hello World");

  std::string missing = f.path + ".new";
  stream_make_on_file(&s, STREAM_READ, missing.c_str());
  EXPECT_TRUE(stream_hasfailed(&s));
  EXPECT_EQ(s->mode, STREAM_READ);
  stream_destroy(&s);
  stream_make_on_file(&s, STREAM_WRITE, missing.c_str());
  ASSERT_FALSE(stream_hasfailed(&s));
  EXPECT_TRUE(stream_blockwrite(&s, "new", 3));
  EXPECT_EQ(stream_endposition(&s), 3);
  stream_destroy(&s);
  EXPECT_EQ(access(missing.c_str(), F_OK), 0);
  unlink(missing.c_str());

  stream_make_on_file(&s, STREAM_READ, nullptr);
  EXPECT_TRUE(stream_hasfailed(&s));
  stream_destroy(&s);
  stream_make_on_file(&s, STREAM_READ, "/nonexistent-dir/x");
  EXPECT_TRUE(stream_hasfailed(&s));
  stream_destroy(&s);
}

TEST(Stream, FileReadsAreWholeAndKeepThePositionOtherwise) {
  TempFile f;
  f.Write("abcdef");
  stream* s = nullptr;
  stream_make_on_file(&s, STREAM_READ | STREAM_WRITE, f.path.c_str());
  char buffer[16] = {};
  EXPECT_TRUE(stream_blockread(&s, buffer, 2));
  EXPECT_EQ(std::string(buffer, 2), "ab");
  // Writing straight after reading, then reading straight after writing.
  EXPECT_TRUE(stream_blockwrite(&s, "XY", 2));
  EXPECT_TRUE(stream_blockread(&s, buffer, 1));
  EXPECT_EQ(buffer[0], 'e');
  EXPECT_FALSE(stream_blockread(&s, buffer, 5));  // 1 left
  EXPECT_EQ(stream_getposition(&s), 5);
  EXPECT_TRUE(stream_blockread(&s, buffer, 1));
  EXPECT_EQ(buffer[0], 'f');
  stream_position(&s, 0);
  EXPECT_TRUE(stream_blockread(&s, buffer, 6));
  EXPECT_EQ(std::string(buffer, 6), "abXYef");
  // Seeking past the end of a file is allowed; before the start it fails.
  stream_position(&s, 100);
  EXPECT_FALSE(stream_hasfailed(&s));
  stream_position(&s, -1);
  EXPECT_TRUE(stream_hasfailed(&s));
  EXPECT_EQ(s->handle, nullptr);
  EXPECT_EQ(stream_getposition(&s), 0);
  EXPECT_FALSE(stream_blockwrite(&s, "x", 1));
  stream_destroy(&s);
  EXPECT_EQ(f.Read(), "abXYef");
}

TEST(StreamVirtualIo, SeeksTellsAndTransfersThroughTheStream) {
  array a{};
  array_cats(&a, "0123456789");
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_READ | STREAM_WRITE, &a);
  void* user = &s;
  EXPECT_EQ(stream_virtualio.get_filelen(user), 10);
  EXPECT_EQ(stream_virtualio.seek(3, SEEK_SET, user), 3);
  EXPECT_EQ(stream_virtualio.tell(user), 3);
  EXPECT_EQ(stream_virtualio.seek(2, SEEK_CUR, user), 5);
  EXPECT_EQ(stream_virtualio.seek(-4, SEEK_END, user), 6);
  EXPECT_EQ(stream_virtualio.seek(0, 7, user), -1);
  EXPECT_EQ(stream_virtualio.tell(user), 6);
  char buffer[8] = {};
  EXPECT_EQ(stream_virtualio.read(buffer, 3, user), 3);
  EXPECT_EQ(std::string(buffer, 3), "678");
  EXPECT_EQ(stream_virtualio.read(buffer, 3, user), 0);
  EXPECT_EQ(stream_virtualio.tell(user), 9);
  EXPECT_EQ(stream_virtualio.write("ab", 2, user), 2);
  EXPECT_EQ(stream_virtualio.get_filelen(user), 11);
  // The end of an array is where a decoder stops: it stays usable there,
  // reads nothing and writes append.
  EXPECT_EQ(stream_virtualio.seek(0, SEEK_END, user), 11);
  EXPECT_FALSE(stream_hasfailed(&s));
  EXPECT_EQ(stream_virtualio.read(buffer, 1, user), 0);
  EXPECT_EQ(stream_virtualio.write("c", 1, user), 1);
  EXPECT_EQ(std::string(static_cast<char*>(a.data), 12), "012345678abc");
  // Beyond the end the stream fails, and the seek says so.
  EXPECT_EQ(stream_virtualio.seek(5, SEEK_END, user), -1);
  EXPECT_TRUE(stream_hasfailed(&s));
  EXPECT_EQ(stream_virtualio.tell(user), 0);
  stream_destroy(&s);
  array_reset(&a);
}

TEST(StreamVirtualIo, FileSeeksReportTheNewOffset) {
  TempFile f;
  f.Write("abcdef");
  stream* s = nullptr;
  stream_make_on_file(&s, STREAM_READ, f.path.c_str());
  void* user = &s;
  EXPECT_EQ(stream_virtualio.get_filelen(user), 6);
  EXPECT_EQ(stream_virtualio.seek(0, SEEK_END, user), 6);
  EXPECT_EQ(stream_virtualio.seek(-2, SEEK_CUR, user), 4);
  char buffer[4] = {};
  EXPECT_EQ(stream_virtualio.read(buffer, 2, user), 2);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  EXPECT_EQ(stream_virtualio.write("x", 1, user), 0);  // read only
  EXPECT_EQ(stream_virtualio.seek(-10, SEEK_SET, user), -1);
  EXPECT_TRUE(stream_hasfailed(&s));
  stream_destroy(&s);
}
