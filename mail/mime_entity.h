#pragma once
// Just enough of MIME to read a header section: its fields with their byte ranges, the content
// type and its boundary, the transfer encoding, and where the body begins.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mailsheaf {

struct HeaderField {
  std::string name;    // as written
  std::string value;   // unfolded, line ends removed
  size_t begin = 0;    // byte range of the field in the message, its folded lines and their
  size_t end = 0;      // line ends included
};

struct MimeEntity {
  size_t begin = 0;        // the entity's bytes in the message
  size_t header_end = 0;   // where the empty line that ends the header section starts
  size_t body_begin = 0;   // after that empty line; == end when there is no body
  size_t end = 0;
  std::string eol;         // the entity's first line end: "\r\n", "\n" or "\r"
  std::vector<HeaderField> fields;
  std::string type = "text/plain";  // lower case, without parameters
  std::string boundary;             // of a multipart
  std::string encoding;             // lower case; empty when not given
  bool has_mime_version = false;
  // False when the entity begins with text instead of header fields: then all of it is body.
  bool has_header_section = true;

  const HeaderField* Field(std::string_view name) const;
};

// Reads the entity that occupies [begin, end) of `message`.
MimeEntity ReadEntity(std::string_view message, size_t begin, size_t end);

}  // namespace mailsheaf
