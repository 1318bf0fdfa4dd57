#pragma once
// Where the packer writes: its output and error streams, and whether the output is a terminal.

#include <string>

namespace mailsheaf {

class Console {
 public:
  virtual ~Console() = default;
  virtual bool IsTerminal() const = 0;
  // Columns of the terminal; a sensible width when not known.
  virtual int Width() const = 0;
  virtual void Out(const std::u16string& text) = 0;
  virtual void Err(const std::u16string& text) = 0;
};

}  // namespace mailsheaf
