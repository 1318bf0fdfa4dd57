#pragma once
// Messages with lines too long for the importer, and the checks a mended one must pass: no line
// over the limit, the line ends of the original, and (through Python's email package) the same
// parts, headers and decoded content.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "mail/long_lines.h"
#include "base/text.h"
#include "tests/archive/test_helpers_posix.h"

namespace mailsheaf::testing {

inline std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

// Deterministic bytes of every value, for attachments.
inline std::string Bytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  return bytes;
}

inline std::string Base64(const std::string& data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t n = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) n |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) n |= static_cast<unsigned char>(data[i + 2]);
    out.push_back(kAlphabet[(n >> 18) & 63]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(i + 1 < data.size() ? kAlphabet[(n >> 6) & 63] : '=');
    out.push_back(i + 2 < data.size() ? kAlphabet[n & 63] : '=');
  }
  return out;
}

struct MendCase {
  std::string what;
  std::string message;
  std::vector<std::string> kept;   // byte runs that must survive as they are
  std::vector<std::string> added;  // text the mended message must hold
};

inline std::vector<MendCase> MendCases(const std::string& eol) {
  const std::string n = eol;
  std::string long_html = "<html><body>";
  for (int i = 0; i < 900; ++i) long_html += "<p class=\"x\">Caf\xC3\xA9 =&gt; " + std::to_string(i) + "\t</p>";
  long_html += "</body></html>";
  const std::string text_part = "Content-Type: text/plain" + n + n + "Hello," + n + "see the file." + n;
  const std::string attachment = Base64(Bytes(30000, 7));
  std::string qp_line;
  for (int i = 0; i < 700; ++i) qp_line += "caf=C3=A9 and more text =3D " + std::to_string(i) + " ";
  qp_line += "end";
  std::vector<MendCase> cases;
  cases.push_back({"a base64 attachment on one line",
                   "From: a@example.org" + n + "Subject: report" + n + "MIME-Version: 1.0" + n +
                       "Content-Type: multipart/mixed; boundary=\"=_b 1\"" + n + n +
                       "preamble" + n + "--=_b 1" + n + text_part + "--=_b 1" + n +
                       "Content-Type: application/octet-stream; name=data.bin" + n +
                       "Content-Transfer-Encoding: base64" + n + n + attachment + n +
                       "--=_b 1--" + n + "epilogue" + n,
                   {text_part, "preamble" + n, "epilogue" + n},
                   {}});
  cases.push_back({"a quoted-printable line",
                   "Subject: qp" + n + "MIME-Version: 1.0" + n +
                       "Content-Type: text/plain; charset=utf-8" + n +
                       "Content-Transfer-Encoding: quoted-printable" + n + n + "short line" + n +
                       qp_line + n + "last" + n,
                   {"short line" + n},
                   {}});
  cases.push_back({"an HTML newsletter on one line, no MIME headers",
                   "Subject: news" + n + "From: list@example.org" + n + n + long_html + n,
                   {"Subject: news" + n},
                   {"Content-Transfer-Encoding: quoted-printable" + n, "MIME-Version: 1.0" + n}});
  cases.push_back({"an 8bit part in a nested multipart and a forwarded message",
                   "MIME-Version: 1.0" + n + "Content-Type: multipart/mixed; boundary=outer" + n +
                       n + "--outer" + n +
                       "Content-Type: multipart/alternative; boundary=inner" + n + n + "--inner" +
                       n + text_part + "--inner" + n + "Content-Type: text/html" + n +
                       "Content-Transfer-Encoding: 8bit" + n + n + long_html + n + "--inner--" + n +
                       "--outer" + n + "Content-Type: message/rfc822" + n + n +
                       "Subject: inner message" + n + n + long_html + n + "--outer--" + n,
                   {text_part},
                   {"Content-Transfer-Encoding: quoted-printable" + n}});
  cases.push_back({"a header line",
                   "Subject: x" + n + "References:" + [&] {
                     std::string refs;
                     for (int i = 0; i < 600; ++i) refs += " <id" + std::to_string(i) + "@example.org>";
                     return refs;
                   }() + n + n + "body" + n,
                   {"body" + n},
                   {}});
  std::string paragraph;
  for (int i = 0; i < 400; ++i) paragraph += "The minutes, item " + std::to_string(i) + ": caf\xC3\xA9 = 100%. ";
  cases.push_back({"a message without a header section",
                   "Hi Bob, the minutes follow" + n + n + paragraph + n, {},
                   {"Content-Transfer-Encoding: quoted-printable" + n + n + "Hi Bob"}});
  cases.push_back({"a long word in the subject, next to an encoded word",
                   "Subject: =?utf-8?q?caf=C3=A9?= " + [] {
                     std::string word;
                     for (int i = 0; i < 3000; ++i) word += "\xC3\xA9t\xC3\xA9";
                     return word;
                   }() + " " + std::string(12000, 'x') + " end" + n + n + "body" + n,
                   {n + "body" + n},
                   {"=?UTF-8?Q?_"}});
  cases.push_back({"long lines in the preamble and the epilogue, and a soft break at a delimiter",
                   "Content-Type: multipart/mixed; boundary=zz" + n + n + std::string(20000, '-') + n +
                       "--zz" + n + "Content-Type: text/plain" + n + n + std::string(75, 'a') +
                       "--zz" + n + std::string(11000, 'b') + n + "--zz--" + n +
                       std::string(20000, 'e') + n,
                   {},
                   {"=2D-zz"}});
  // A digest's part without a Content-Type is a message, mended inside as one (RFC 2046, 5.1.5
  // and 5.2.1): the part's own header stays empty.
  cases.push_back({"a forwarded message in a digest, and one of message/global",
                   "Content-Type: multipart/digest; boundary=d" + n + n + "--d" + n + n +
                       "Subject: in the digest" + n + n + long_html + n + "--d" + n +
                       "Content-Type: message/global" + n + n + "Subject: global" + n + n +
                       long_html + n + "--d--" + n,
                   {"--d" + n + n + "Subject: in the digest" + n,
                    "Content-Type: message/global" + n + n + "Subject: global" + n},
                   {"Content-Transfer-Encoding: quoted-printable" + n}});
  // One encoded word too long for a line, in a charset of two-byte characters: cut between
  // characters into several of the same charset.
  std::string kanji;
  for (int i = 0; i < 4000; ++i) kanji += "\x82\xA0\x8A\xBF";  // Shift_JIS
  cases.push_back({"one long encoded word in Shift_JIS",
                   "Subject: =?Shift_JIS?B?" + Base64(kanji) + "?=" + n + n + "body" + n,
                   {n + "body" + n},
                   {"?= =?Shift_JIS?B?"}});
  return cases;
}

// Every line within the limit and ending as the original's do; the same message once decoded.
inline void ExpectMendedWell(const std::string& original, const std::string& mended,
                             const std::string& eol) {
  EXPECT_LE(LongestLine(mended), kLongestAcceptedLine);
  if (eol == "\n") {
    EXPECT_EQ(mended.find('\r'), std::string::npos) << "LF stays LF";
  }
  if (eol == "\r\n") {
    for (size_t at = mended.find('\n'); at != std::string::npos; at = mended.find('\n', at + 1)) {
      ASSERT_TRUE(at > 0 && mended[at - 1] == '\r') << "CRLF stays CRLF";
    }
  }
  TempTree tree;
  std::ofstream(tree.Path("original.eml"), std::ios::binary) << original;
  std::ofstream(tree.Path("mended.eml"), std::ios::binary) << mended;
  std::string said;
  EXPECT_EQ(RunCommand("python3 " + Quote(std::string(MAILSHEAF_TESTS_DIR) +
                                          "/python_mime_equal.py") +
                           " " + Quote(tree.Path("original.eml")) + " " +
                           Quote(tree.Path("mended.eml")),
                       &said),
            0)
      << said;
}

}  // namespace mailsheaf::testing
