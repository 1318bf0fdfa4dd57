#pragma once
// Where the packer writes: its output and error streams, and whether the output is a terminal;
// and where the upload's password may come from.

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
  // A line typed at the terminal with nothing shown; false when no one can be asked.
  virtual bool ReadSecret(const std::u16string& /*prompt*/, std::string& /*secret*/) {
    return false;
  }
  // An environment variable in UTF-8; false when it is not set.
  virtual bool Variable(const char* /*name*/, std::string& /*value*/) const { return false; }
};

}  // namespace mailsheaf
