#include "archive/mime_entity.h"

#include <algorithm>

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
  const size_t first_lf = message.substr(0, end).find('\n', begin);
  entity.eol = first_lf != std::string_view::npos && first_lf > begin &&
                       message[first_lf - 1] == '\r'
                   ? "\r\n"
                   : first_lf != std::string_view::npos ? "\n" : "\r\n";
  entity.header_end = entity.body_begin = end;
  size_t pos = begin;
  while (pos < end) {
    const size_t lf = message.substr(0, end).find('\n', pos);
    const size_t next = lf == std::string_view::npos ? end : lf + 1;
    std::string_view line = message.substr(pos, (lf == std::string_view::npos ? end : lf) - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      entity.header_end = pos;
      entity.body_begin = next;
      break;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !entity.fields.empty()) {
      entity.fields.back().value.append(line);
      entity.fields.back().end = next;
    } else {
      HeaderField field;
      const size_t colon = line.find(':');
      field.name = std::string(line.substr(0, colon));
      if (colon != std::string_view::npos) field.value = std::string(line.substr(colon + 1));
      field.begin = pos;
      field.end = next;
      entity.fields.push_back(std::move(field));
    }
    pos = next;
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

std::vector<BodyRange> SplitMultipart(std::string_view message, const MimeEntity& entity) {
  std::vector<BodyRange> parts;
  if (entity.boundary.empty()) return parts;
  const std::string delimiter = "--" + entity.boundary;
  const std::string_view body = message.substr(0, entity.end);
  bool open = false;
  size_t part_begin = 0;
  for (size_t pos = entity.body_begin; pos < entity.end;) {
    const size_t lf = body.find('\n', pos);
    const size_t next = lf == std::string_view::npos ? entity.end : lf + 1;
    const std::string_view line = body.substr(pos, next - pos);
    if (line.substr(0, delimiter.size()) == delimiter) {
      std::string_view rest = line.substr(delimiter.size());
      const bool closing = rest.substr(0, 2) == "--";
      if (closing) rest.remove_prefix(2);
      if (Trimmed(rest).empty()) {
        if (open) {
          // The line end before a delimiter belongs to the delimiter.
          size_t part_end = pos;
          if (part_end > part_begin && message[part_end - 1] == '\n') --part_end;
          if (part_end > part_begin && message[part_end - 1] == '\r') --part_end;
          parts.push_back({part_begin, std::max(part_begin, part_end)});
        }
        if (closing) return parts;
        open = true;
        part_begin = next;
      }
    }
    pos = next;
  }
  if (open) parts.push_back({part_begin, entity.end});
  return parts;
}

}  // namespace mailsheaf
