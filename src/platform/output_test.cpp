#include "platform/output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace platform {
namespace {

// What reached the file, read apart from the stream's buffer.
std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Standard output is buffered; a line on standard error must not overtake
// what standard output already holds, and must itself reach its stream.
TEST(FileOutputTest, ErrorLinesFlushTheOtherStreamFirst) {
  const std::string outPath = ::testing::TempDir() + "/output_test_out.txt";
  const std::string errPath = ::testing::TempDir() + "/output_test_err.txt";
  std::FILE* out = std::fopen(outPath.c_str(), "wb");
  std::FILE* err = std::fopen(errPath.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  ASSERT_NE(err, nullptr);
  static char buffer[BUFSIZ];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  FileOutput normal(out);
  FileOutput error(err, out);

  normal.Line("first");
  EXPECT_EQ(Contents(outPath), "");
  error.Line("problem");
  EXPECT_EQ(Contents(outPath), "first\n");
  EXPECT_EQ(Contents(errPath), "problem\n");

  normal.Line("second");
  normal.Flush();
  EXPECT_EQ(Contents(outPath), "first\nsecond\n");
  std::fclose(out);
  std::fclose(err);
}

TEST(StringOutputTest, LinesEndWithALineEnd) {
  StringOutput out;
  out.Line("a");
  out.Write("b");
  out.Line("");
  EXPECT_EQ(out.Text(), "a\nb\n");
}

}  // namespace
}  // namespace platform
