#include "archive/gzip_member_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>

#include "tests/archive/support/tar_reader.h"

namespace mailsheaf {
namespace {

using testing::Gunzip;
using testing::GzipFacts;

class MemorySink final : public ByteSink {
 public:
  std::optional<size_t> fail_after;  // bytes accepted before every Put fails
  std::string bytes;
  bool Put(const unsigned char* data, size_t size) override {
    if (fail_after && bytes.size() + size > *fail_after) return false;
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
};

// Text that compresses like mail does: recurring words and header-like lines, no long repeats.
std::string MailLikeText(size_t size, uint32_t seed) {
  static const char* const kWords[] = {
      "Received:", "from",   "by",     "with", "ESMTP", "id",       "for",   "the",
      "message",   "Subject:", "Re:",  "list", "mail",  "server",   "Date:", "2002",
      "Aug",       "-0400",  "<a@b>",  "and",  "to",    "of",       "spam",  "ham",
      "\n",        "\n",     "\t",     "you",  "this",  "that",     "http://", "www"};
  std::string text;
  uint32_t state = seed;
  while (text.size() < size) {
    state = state * 1664525u + 1013904223u;
    text += kWords[(state >> 16) % (sizeof kWords / sizeof *kWords)];
    if ((state >> 8) % 7 == 0) text += std::to_string(state % 100000);
    text += ' ';
  }
  text.resize(size);
  return text;
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string Compress(const std::string& input, unsigned threads, size_t block_size,
                     size_t piece = 777) {
  MemorySink sink;
  GzipMemberWriter writer(sink, threads, block_size);
  for (size_t pos = 0; pos < input.size(); pos += piece) {
    const size_t n = std::min(piece, input.size() - pos);
    EXPECT_TRUE(writer.Write(reinterpret_cast<const unsigned char*>(input.data() + pos), n));
  }
  EXPECT_TRUE(writer.Finish());
  EXPECT_EQ(writer.BytesIn(), input.size());
  EXPECT_EQ(writer.BytesOut(), sink.bytes.size());
  return sink.bytes;
}

TEST(GzipMemberWriter, OneMemberWhateverTheThreadCountAndByteForByteTheSame) {
  constexpr size_t kBlock = 1000;  // far below the 32 KiB window: dictionaries span blocks
  const std::string inputs[] = {
      "",
      "x",
      MailLikeText(kBlock - 1, 1),
      MailLikeText(kBlock, 2),
      MailLikeText(kBlock + 1, 3),
      MailLikeText(60 * kBlock, 4) + RandomBytes(5 * kBlock, 5) + MailLikeText(40 * kBlock, 6),
  };
  for (const std::string& input : inputs) {
    const std::string single = Compress(input, 1, kBlock);
    for (unsigned threads : {2u, 3u, 8u}) {
      EXPECT_EQ(Compress(input, threads, kBlock, 1 + threads * 300), single)
          << threads << " threads, " << input.size() << " bytes";
    }
    std::string output, error;
    GzipFacts facts;
    ASSERT_TRUE(Gunzip(single, output, error, &facts)) << error;
    EXPECT_EQ(output, input);
    EXPECT_EQ(facts.header_mtime, 0u);
    EXPECT_EQ(facts.flags, 0u) << "no name, no comment, no extra field";
  }
}

TEST(GzipMemberWriter, DefaultBlocksCompressAlmostAsWellAsOneStream) {
  const std::string input = MailLikeText(3 << 20, 9);
  const std::string parallel = Compress(input, 2, GzipMemberWriter::kDefaultBlockSize, 65536);
  std::string check, error;
  ASSERT_TRUE(Gunzip(parallel, check, error)) << error;
  EXPECT_EQ(check, input);

  z_stream stream{};
  ASSERT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string single(compressBound(static_cast<uLong>(input.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = reinterpret_cast<Bytef*>(single.data());
  stream.avail_out = static_cast<uInt>(single.size());
  ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  const double one_stream = static_cast<double>(stream.total_out);
  deflateEnd(&stream);
  EXPECT_LE(static_cast<double>(parallel.size()) / one_stream, 1.003);
}

TEST(GzipMemberWriter, FailingSinkEndsTheWriteWithoutHanging) {
  const std::string input = MailLikeText(400000, 11);
  for (unsigned threads : {1u, 4u}) {
    MemorySink sink;
    sink.fail_after = 5000;
    GzipMemberWriter writer(sink, threads, 4096);
    bool ok = true;
    for (size_t pos = 0; pos < input.size() && ok; pos += 1000) {
      ok = writer.Write(reinterpret_cast<const unsigned char*>(input.data() + pos), 1000);
    }
    ok = ok && writer.Finish();
    EXPECT_FALSE(ok) << threads << " threads";
    EXPECT_LE(sink.bytes.size(), 5000u);
  }
}

TEST(GzipMemberWriter, AMemberWhoseTrailerIsRefusedIsNotFinished) {
  const std::string input = MailLikeText(100000, 13);
  const size_t whole = Compress(input, 1, 4096).size();
  for (unsigned threads : {1u, 4u}) {
    MemorySink sink;
    sink.fail_after = whole - 1;
    GzipMemberWriter writer(sink, threads, 4096);
    EXPECT_TRUE(writer.Write(reinterpret_cast<const unsigned char*>(input.data()), input.size()));
    EXPECT_FALSE(writer.Finish()) << threads << " threads";
    EXPECT_EQ(sink.bytes.size(), whole - 8) << "every block but no trailer";
  }
}

TEST(GzipMemberWriter, AbortStopsEverythingAndNothingMoreIsWritten) {
  const std::string input = MailLikeText(1 << 20, 12);
  MemorySink sink;
  {
    GzipMemberWriter writer(sink, 4, 8192);
    ASSERT_TRUE(writer.Write(reinterpret_cast<const unsigned char*>(input.data()), input.size()));
    writer.Abort();
    const size_t after_abort = sink.bytes.size();
    EXPECT_FALSE(writer.Write(reinterpret_cast<const unsigned char*>(input.data()), 10));
    EXPECT_FALSE(writer.Finish());
    writer.Abort();
    EXPECT_EQ(sink.bytes.size(), after_abort);
  }
  // Destroyed unfinished, mid-stream: the threads end with it.
  MemorySink other;
  GzipMemberWriter unfinished(other, 3, 8192);
  EXPECT_TRUE(unfinished.Write(reinterpret_cast<const unsigned char*>(input.data()), 100000));
}

}  // namespace
}  // namespace mailsheaf
