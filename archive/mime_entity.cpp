#include "archive/mime_entity.h"

#include <algorithm>

#include "archive/mail_lines.h"
#include "base/ascii.h"

namespace mailsheaf {
namespace {

std::string LowerText(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
  return lower;
}

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// "multipart/mixed; boundary="a b"; x=y" -> the type, and the boundary parameter.
void ReadContentType(std::string_view value, std::string& type, std::string& boundary) {
  const size_t semicolon = value.find(';');
  type = LowerText(Trimmed(value.substr(0, semicolon)));
  if (const size_t comment = type.find('('); comment != std::string::npos) {
    type = std::string(Trimmed(std::string_view(type).substr(0, comment)));
  }
  size_t pos = semicolon;
  while (pos != std::string_view::npos && pos < value.size()) {
    ++pos;  // past the ';'
    const size_t equals = value.find('=', pos);
    if (equals == std::string_view::npos) return;
    const std::string name = LowerText(Trimmed(value.substr(pos, equals - pos)));
    size_t at = equals + 1;
    while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
    std::string parameter;
    if (at < value.size() && value[at] == '"') {
      for (++at; at < value.size() && value[at] != '"'; ++at) {
        if (value[at] == '\\' && at + 1 < value.size()) ++at;
        parameter.push_back(value[at]);
      }
      pos = value.find(';', at);
    } else {
      pos = value.find(';', at);
      parameter = std::string(Trimmed(value.substr(at, pos == std::string_view::npos
                                                           ? std::string_view::npos
                                                           : pos - at)));
    }
    if (name == "boundary" && boundary.empty()) boundary = parameter;
  }
}

// The size of the line end just before `pos`, not reaching back past `floor`.
size_t LineEndBefore(std::string_view message, size_t floor, size_t pos) {
  if (pos > floor && message[pos - 1] == '\n') {
    return pos - 1 > floor && message[pos - 2] == '\r' ? 2 : 1;
  }
  return pos > floor && message[pos - 1] == '\r' ? 1 : 0;
}

}  // namespace

const HeaderField* MimeEntity::Field(std::string_view name) const {
  for (const HeaderField& field : fields) {
    if (SameAsciiLetters(Trimmed(field.name), name)) return &field;
  }
  return nullptr;
}

MimeEntity ReadEntity(std::string_view message, size_t begin, size_t end) {
  MimeEntity entity;
  entity.begin = begin;
  entity.end = end;
  const std::string_view text = message.substr(0, end);
  entity.eol = begin < end ? std::string(LineAt(text, begin).end) : std::string();
  if (entity.eol.empty()) entity.eol = "\r\n";
  entity.header_end = entity.body_begin = end;
  if (begin < end) {
    const std::string_view first = LineAt(text, begin).text;
    if (!first.empty() && !IsFieldLine(first) && !IsMboxFromLine(first)) {
      entity.has_header_section = false;
      entity.header_end = entity.body_begin = begin;
    }
  }
  for (size_t pos = begin; entity.has_header_section && pos < end;) {
    const MailLine line = LineAt(text, pos);
    if (line.text.empty()) {
      entity.header_end = pos;
      entity.body_begin = line.next;
      break;
    }
    if ((line.text.front() == ' ' || line.text.front() == '\t') && !entity.fields.empty()) {
      entity.fields.back().value.append(line.text);
      entity.fields.back().end = line.next;
    } else {
      HeaderField field;
      const size_t colon = line.text.find(':');
      field.name = std::string(line.text.substr(0, colon));
      if (colon != std::string_view::npos) field.value = std::string(line.text.substr(colon + 1));
      field.begin = pos;
      field.end = line.next;
      entity.fields.push_back(std::move(field));
    }
    pos = line.next;
  }
  if (const HeaderField* type = entity.Field("Content-Type")) {
    ReadContentType(type->value, entity.type, entity.boundary);
  }
  if (const HeaderField* encoding = entity.Field("Content-Transfer-Encoding")) {
    entity.encoding = LowerText(Trimmed(encoding->value));
  }
  entity.has_mime_version = entity.Field("MIME-Version") != nullptr;
  return entity;
}

MultipartLayout SplitMultipart(std::string_view message, const MimeEntity& entity) {
  MultipartLayout layout;
  layout.preamble = {entity.body_begin, entity.body_begin};
  if (entity.boundary.empty()) return layout;
  const std::string delimiter = "--" + entity.boundary;
  const std::string_view body = message.substr(0, entity.end);
  bool open = false;
  size_t part_begin = 0;
  for (size_t pos = entity.body_begin; pos < entity.end;) {
    const MailLine line = LineAt(body, pos);
    if (line.text.substr(0, delimiter.size()) == delimiter) {
      std::string_view rest = line.text.substr(delimiter.size());
      const bool closing = rest.substr(0, 2) == "--";
      if (closing) rest.remove_prefix(2);
      if (Trimmed(rest).empty()) {
        // The line end before a delimiter belongs to the delimiter.
        const size_t before = pos - LineEndBefore(message, part_begin, pos);
        if (open) {
          layout.parts.push_back({part_begin, std::max(part_begin, before)});
        } else {
          layout.preamble.end = std::max(entity.body_begin, before);
        }
        if (closing) {
          layout.epilogue = {line.next, entity.end};
          return layout;
        }
        open = true;
        part_begin = line.next;
      }
    }
    pos = line.next;
  }
  if (open) layout.parts.push_back({part_begin, entity.end});
  return layout;
}

}  // namespace mailsheaf
