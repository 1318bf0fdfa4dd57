#pragma once
// One gzip member, compressed in parallel: the only gzip layout the mail server's importer reads
// safely (it may stop after the first member of a multi-member file).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "archive/gzip_block_pool.h"

namespace mailsheaf {

// Where the compressed bytes go, in order. Called by one thread at a time.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Put(const unsigned char* data, size_t size) = 0;
};

class GzipMemberWriter {
 public:
  static constexpr size_t kDefaultBlockSize = 128 * 1024;
  static constexpr int kLevel = 6;

  // threads <= 1 compresses and writes on the calling thread; the bytes are the same either way.
  GzipMemberWriter(ByteSink& sink, unsigned threads, size_t block_size = kDefaultBlockSize);
  ~GzipMemberWriter();
  GzipMemberWriter(const GzipMemberWriter&) = delete;
  GzipMemberWriter& operator=(const GzipMemberWriter&) = delete;

  // False once the sink has failed or the writer was aborted; nothing more is taken then.
  bool Write(const unsigned char* data, size_t size);
  // Compresses what is left, ends the member and waits until the sink has everything.
  bool Finish();
  // Stops every thread; the sink gets nothing more. Safe to call more than once.
  void Abort();

  uint64_t BytesIn() const { return bytes_in_; }
  // Compressed bytes handed to the sink, header and trailer included; final after Finish.
  uint64_t BytesOut() const { return bytes_out_; }

 private:
  struct Compressor;

  void Submit(bool last);
  void CompressorLoop();
  void WriterLoop();
  void WriteBlock(GzipBlock& block);
  void StopThreads();

  ByteSink& sink_;
  const size_t block_size_;
  const bool parallel_;
  GzipBlockPool pool_;
  std::unique_ptr<Compressor> inline_compressor_;

  GzipBlock* current_ = nullptr;           // held by the caller while it fills it
  std::vector<unsigned char> tail_;        // the last 32 KiB of input: the next dictionary
  uint64_t next_sequence_ = 0;
  uint64_t bytes_in_ = 0;
  bool finished_ = false;

  // Writer side: only the writer touches these until the writer has ended.
  uint64_t next_to_write_ = 0;
  uint32_t crc_ = 0;
  uint64_t written_in_ = 0;
  uint64_t bytes_out_ = 0;
  bool header_written_ = false;
  bool trailer_written_ = false;

  std::vector<std::thread> compressors_;
  std::thread writer_;
};

}  // namespace mailsheaf
