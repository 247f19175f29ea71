#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <zeal/base/stream.h>
#include <zeal/base/stream_sndfile.h>
#include "common/test_files.h"

namespace {

std::string Bytes(const array& a) { return std::string(static_cast<const char*>(a.data), a.size); }

}  // namespace

TEST(Stream, ArrayStreamsGrowReadWholeBlocksAndRefuseNegativeSizes) {
  array a{};
  stream* s = nullptr;
  char buffer[16] = {};
  stream_make_on_array(&s, STREAM_READ | STREAM_WRITE, &a);
  EXPECT_TRUE(stream_blockwrite(&s, "abcdefgh", 8));
  stream_position(&s, 2);
  EXPECT_FALSE(stream_blockread(&s, buffer, 10));  // 6 left: nothing, position kept
  EXPECT_EQ(stream_getposition(&s), 2);
  EXPECT_TRUE(stream_blockread(&s, buffer, 6));
  EXPECT_EQ(std::string(buffer, 6), "cdefgh");
  stream_position(&s, 6);
  // A negative size must not copy from beyond the buffer.
  EXPECT_FALSE(stream_blockwrite(&s, "XYZ", -4));
  EXPECT_TRUE(stream_blockwrite(&s, "XYZ", 3));  // overwrites and extends
  EXPECT_EQ(Bytes(a), "abcdefXYZ");
  stream_destroy(&s);
  EXPECT_EQ(a.size, 9);  // the stream never owns its array

  stream_make_on_array(&s, STREAM_READ, &a);
  EXPECT_FALSE(stream_blockwrite(&s, "xy", 2));  // read only
  // Seeking to the array's size fails the stream, for good.
  stream_position(&s, 8);
  EXPECT_FALSE(stream_hasfailed(&s));
  stream_position(&s, 9);
  EXPECT_TRUE(stream_hasfailed(&s));
  stream_position(&s, 0);
  EXPECT_FALSE(stream_blockread(&s, buffer, 1));
  stream_destroy(&s);
  // So does a negative position, which would read before the array.
  stream_make_on_array(&s, STREAM_READ, &a);
  stream_position(&s, -2);
  EXPECT_TRUE(stream_hasfailed(&s));
  stream_destroy(&s);
  array_reset(&a);
}

TEST(Stream, FileStreamsKeepContentsCreateFilesAndRestoreThePositionOfAFailedRead) {
  TempDir dir;
  stream* s = nullptr;
  char buffer[16] = {};
  stream_make_on_file(&s, STREAM_WRITE, dir.Write("f", "hello world").c_str());
  EXPECT_EQ(stream_endposition(&s), 11);
  stream_position(&s, 6);
  EXPECT_TRUE(stream_blockwrite(&s, "W", 1));
  EXPECT_FALSE(stream_blockwrite(&s, "W", -1));
  stream_destroy(&s);
  EXPECT_EQ(dir.Read("f"), "hello World");

  stream_make_on_file(&s, STREAM_READ | STREAM_WRITE, dir.File("g").c_str());
  EXPECT_TRUE(stream_blockwrite(&s, "abcdef", 6));
  stream_position(&s, 0);
  EXPECT_TRUE(stream_blockread(&s, buffer, 2));
  // A write straight after a read, and a read straight after a write.
  EXPECT_TRUE(stream_blockwrite(&s, "XY", 2));
  EXPECT_TRUE(stream_blockread(&s, buffer, 1));
  EXPECT_EQ(buffer[0], 'e');
  // A read beyond the end gives nothing and keeps the position.
  EXPECT_FALSE(stream_blockread(&s, buffer, 5));
  EXPECT_EQ(stream_getposition(&s), 5);
  stream_position(&s, 100);  // past the end of a file is a place
  EXPECT_FALSE(stream_hasfailed(&s));
  stream_position(&s, -1);
  EXPECT_TRUE(stream_hasfailed(&s));
  EXPECT_FALSE(stream_blockwrite(&s, "x", 1));
  stream_destroy(&s);
  EXPECT_EQ(dir.Read("g"), "abXYef");
}

TEST(StreamVirtualIo, SeeksAnswerAsAFileWould) {
  array a{};
  array_cats(&a, "0123456789");
  stream* s = nullptr;
  stream_make_on_array(&s, STREAM_READ | STREAM_WRITE, &a);
  void* user = &s;
  char buffer[8] = {};
  EXPECT_EQ(stream_virtualio.get_filelen(user), 10);
  EXPECT_EQ(stream_virtualio.seek(3, SEEK_SET, user), 3);
  EXPECT_EQ(stream_virtualio.seek(2, SEEK_CUR, user), 5);
  EXPECT_EQ(stream_virtualio.seek(-4, SEEK_END, user), 6);
  EXPECT_EQ(stream_virtualio.seek(0, 7, user), -1);
  EXPECT_EQ(stream_virtualio.tell(user), 6);
  EXPECT_EQ(stream_virtualio.read(buffer, 3, user), 3);
  EXPECT_EQ(std::string(buffer, 3), "678");
  // At the end of the data a read gives what is left, as decoders expect.
  EXPECT_EQ(stream_virtualio.read(buffer, 3, user), 1);
  EXPECT_EQ(buffer[0], '9');
  EXPECT_EQ(stream_virtualio.tell(user), 10);
  EXPECT_EQ(stream_virtualio.write("ab", 2, user), 2);
  // A decoder skips to the very end of the last chunk: the stream stays
  // usable there, reads nothing and writes append.
  EXPECT_EQ(stream_virtualio.seek(0, SEEK_END, user), 12);
  EXPECT_FALSE(stream_hasfailed(&s));
  EXPECT_EQ(stream_virtualio.read(buffer, 1, user), 0);
  EXPECT_EQ(stream_virtualio.write("c", 1, user), 1);
  EXPECT_EQ(Bytes(a), "0123456789abc");
  // Past the end, as a file allows: nothing to read, a write leaves a gap of
  // zeros. Before the start, or beyond any offset, the seek fails and the
  // stream stays where it was.
  EXPECT_EQ(stream_virtualio.seek(2, SEEK_END, user), 15);
  EXPECT_EQ(stream_virtualio.read(buffer, 1, user), 0);
  EXPECT_EQ(stream_virtualio.write("d", 1, user), 1);
  EXPECT_EQ(Bytes(a), std::string("0123456789abc\0\0d", 16));
  EXPECT_EQ(stream_virtualio.seek(-17, SEEK_CUR, user), -1);
  EXPECT_EQ(stream_virtualio.seek(INT64_MAX, SEEK_CUR, user), -1);
  EXPECT_EQ(stream_virtualio.tell(user), 16);
  EXPECT_FALSE(stream_hasfailed(&s));
  stream_destroy(&s);
  array_reset(&a);
}
