// Parallel compression into one gzip member.
//
// Threads. The caller's thread is the producer: it frames the tar and copies bytes into the block
// it is filling. N compressor threads deflate whole blocks. One writer thread hands the
// compressed blocks to the sink in their original order. When one thread or fewer is asked for,
// the caller does all three jobs in turn and no thread is started.
//
// Buffers. Every buffer belongs to a slot, and a fixed number of slots (2N + 2) is made up front
// (gzip_block_pool.h). A slot has exactly one owner at a time and goes free -> caller (filling)
// -> queued -> a compressor -> compressed -> the writer -> free. Ownership changes only in the
// pool, under its one lock (base/wait_lock.h: under Wine its waits cost no server round trip);
// the buffers are touched only by their owner, outside the lock.
//
// Order. The caller numbers the blocks as it submits them. Compressors finish in any order; the
// writer waits for the block numbered next_to_write_ and writes only that one, so the sink gets
// the blocks in input order. Each block is raw deflate at level 6, primed with the 32 KiB of
// input that precede it (copied into the slot, so that no slot depends on another) and ended
// with a sync flush, which leaves it on a byte boundary; the last block ends with Z_FINISH.
// Laid end to end they are one deflate stream. Each compressor takes the CRC-32 of its block's
// input; the writer chains them in order with crc32_combine and writes the gzip trailer. The
// bytes depend only on the input and the block size, never on the thread count or on timing.
//
// Memory. The slots are all there is: (2N + 2) x (block + 32 KiB + compressed block), plus one
// deflate state per compressor. When every slot is taken the caller waits for the writer to
// free one, so reading runs at most a few blocks ahead of the disk, whatever the size of one
// file or of the whole input.
//
// Abort and failure. Abort() stops the pool, which wakes every thread: compressors finish the
// block in hand and leave, the writer leaves without writing more, and the caller joins them all
// before it returns. A failing sink does not stall the pipeline: the writer records the failure
// in the pool, drops every later block (still freeing its slot, so no one waits forever) and the
// caller's next Write or Finish returns false.

#include "archive/gzip_member_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace mailsheaf {
namespace {

constexpr size_t kWindow = 32 * 1024;
// Magic, deflate, no flags, mtime 0, no extra flags, operating system unknown: no name and no
// time, so the same input always gives the same file.
constexpr unsigned char kGzipHeader[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 0xff};

void PutLittleEndian32(unsigned char* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

struct GzipMemberWriter::Compressor {
  z_stream stream{};
  bool ready = false;

  Compressor() {
    ready = deflateInit2(&stream, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Compressor() {
    if (ready) deflateEnd(&stream);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  bool Compress(GzipBlock& block) {
    block.crc = static_cast<uint32_t>(
        crc32(0, block.input.data(), static_cast<uInt>(block.input_size)));
    block.output_size = 0;
    if (!ready || deflateReset(&stream) != Z_OK) return false;
    if (block.dictionary_size > 0 &&
        deflateSetDictionary(&stream, block.dictionary.data(),
                             static_cast<uInt>(block.dictionary_size)) != Z_OK) {
      return false;
    }
    stream.next_in = block.input.data();
    stream.avail_in = static_cast<uInt>(block.input_size);
    const int flush = block.last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
      if (block.output.size() - block.output_size < 64) {
        block.output.resize(block.output.size() * 2);
      }
      stream.next_out = block.output.data() + block.output_size;
      stream.avail_out = static_cast<uInt>(block.output.size() - block.output_size);
      const int result = deflate(&stream, flush);
      block.output_size = block.output.size() - stream.avail_out;
      if (result == Z_STREAM_END) return true;
      if (result != Z_OK && result != Z_BUF_ERROR) return false;
      if (!block.last && stream.avail_in == 0 && stream.avail_out != 0) return true;
    }
  }
};

GzipMemberWriter::GzipMemberWriter(ByteSink& sink, unsigned threads, size_t block_size)
    : sink_(sink),
      block_size_(std::max<size_t>(block_size, 1)),
      parallel_(threads > 1),
      pool_(parallel_ ? 2 * static_cast<size_t>(threads) + 2 : 1, block_size_, kWindow,
            compressBound(static_cast<uLong>(block_size_)) + 64) {
  if (!parallel_) {
    inline_compressor_ = std::make_unique<Compressor>();
    return;
  }
  for (unsigned i = 0; i < threads; ++i) compressors_.emplace_back([this] { CompressorLoop(); });
  writer_ = std::thread([this] { WriterLoop(); });
}

GzipMemberWriter::~GzipMemberWriter() { Abort(); }

bool GzipMemberWriter::Write(const unsigned char* data, size_t size) {
  if (finished_) return false;
  while (size > 0) {
    if (current_ == nullptr) {
      current_ = pool_.TakeFree();
      if (current_ == nullptr) return false;
    }
    const size_t room = block_size_ - current_->input_size;
    const size_t take = std::min(room, size);
    std::memcpy(current_->input.data() + current_->input_size, data, take);
    current_->input_size += take;
    bytes_in_ += take;
    data += take;
    size -= take;
    if (current_->input_size == block_size_) Submit(false);
  }
  return pool_.Open();
}

void GzipMemberWriter::Submit(bool last) {
  GzipBlock& block = *current_;
  current_ = nullptr;
  block.sequence = next_sequence_++;
  block.last = last;
  block.dictionary_size = tail_.size();
  std::copy(tail_.begin(), tail_.end(), block.dictionary.begin());

  const unsigned char* input = block.input.data();
  const size_t n = block.input_size;
  if (n >= kWindow) {
    tail_.assign(input + n - kWindow, input + n);
  } else {
    tail_.insert(tail_.end(), input, input + n);
    if (tail_.size() > kWindow) {
      tail_.erase(tail_.begin(), tail_.begin() + static_cast<ptrdiff_t>(tail_.size() - kWindow));
    }
  }

  if (!parallel_) {
    block.failed = !inline_compressor_->Compress(block);
    WriteBlock(block);
    pool_.Free(block);
    return;
  }
  pool_.Queue(block);
}

void GzipMemberWriter::CompressorLoop() {
  Compressor compressor;
  while (GzipBlock* block = pool_.TakeQueued()) {
    block->failed = !compressor.Compress(*block);
    pool_.PutCompressed(*block);
  }
}

void GzipMemberWriter::WriterLoop() {
  while (GzipBlock* block = pool_.TakeCompressed(next_to_write_)) {
    WriteBlock(*block);
    const bool last = block->last;
    pool_.Free(*block);
    ++next_to_write_;
    if (last) return;
  }
}

void GzipMemberWriter::WriteBlock(GzipBlock& block) {
  bool ok = !pool_.Failed() && !block.failed;
  if (ok && !header_written_) {
    header_written_ = true;
    ok = sink_.Put(kGzipHeader, sizeof kGzipHeader);
    if (ok) bytes_out_ += sizeof kGzipHeader;
  }
  if (ok) {
    ok = sink_.Put(block.output.data(), block.output_size);
    if (ok) bytes_out_ += block.output_size;
  }
  crc_ = static_cast<uint32_t>(
      crc32_combine(crc_, block.crc, static_cast<z_off_t>(block.input_size)));
  written_in_ += block.input_size;
  if (ok && block.last) {
    unsigned char trailer[8];
    PutLittleEndian32(trailer, crc_);
    PutLittleEndian32(trailer + 4, static_cast<uint32_t>(written_in_));
    ok = sink_.Put(trailer, sizeof trailer);
    if (ok) bytes_out_ += sizeof trailer;
    trailer_written_ = ok;
  }
  if (!ok) pool_.Fail();
}

bool GzipMemberWriter::Finish() {
  if (finished_) return false;
  finished_ = true;
  if (current_ == nullptr) current_ = pool_.TakeFree();
  if (current_ == nullptr) {
    StopThreads();
    return false;
  }
  Submit(true);
  if (writer_.joinable()) writer_.join();
  StopThreads();
  // The writer thread has ended (or, on one thread, Submit wrote every block), so the member is
  // whole exactly when its trailer reached the sink: a stop or a failing sink cuts it short.
  return trailer_written_;
}

void GzipMemberWriter::Abort() {
  finished_ = true;
  StopThreads();
}

void GzipMemberWriter::StopThreads() {
  pool_.Stop();
  for (std::thread& thread : compressors_) {
    if (thread.joinable()) thread.join();
  }
  if (writer_.joinable()) writer_.join();
}

}  // namespace mailsheaf
