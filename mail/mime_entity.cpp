#include "mail/mime_entity.h"

#include <algorithm>

#include "mail/mail_lines.h"
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

}  // namespace mailsheaf
