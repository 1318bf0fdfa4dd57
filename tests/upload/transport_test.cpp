// The platform's transport against the fixture's servers: silent ones, one whose certificate
// names no IP address, and Dovecot's reached through a bundle of authorities.

#include <gtest/gtest.h>

#include <chrono>

#include "tests/upload/test_server.h"

namespace mailsheaf::upload_test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(Transport, TheCertificateIsCheckedAgainstEveryAuthorityAndItsOwnAddresses) {
  const struct {
    std::string host;
    uint16_t port;
    std::u16string ca_file;
    bool accepted;
    bool pinnable;  // refused only for want of an authority
  } cases[] = {
      {"127.0.0.1", Server().dns_only_port, Server().ca_file, false, false},
      {"localhost", Server().dns_only_port, Server().ca_file, true, false},
      {"127.0.0.1", Server().imaps_port, Server().ca_file, true, false},
      {"127.0.0.1", Server().imaps_port, Server().ca_bundle, true, false},
      {"127.0.0.1", Server().dns_only_port, u"", false, false},
      {"localhost", Server().dns_only_port, u"", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host + ":" + std::to_string(c.port) + " " + Narrow(c.ca_file));
    const auto transport = MakeNetworkTransport();
    std::u16string error;
    ASSERT_TRUE(transport->Connect(c.host, c.port, 20000, error)) << Narrow(error);
    EXPECT_EQ(transport->StartTls({c.ca_file, ""}, error), c.accepted) << Narrow(error);
    EXPECT_TRUE(c.accepted ||
                Narrow(error).starts_with("The certificate of " + c.host + " is not"));
    EXPECT_TRUE(transport->LastPeerCertificate().known);
    EXPECT_EQ(transport->LastPeerCertificate().untrusted, c.pinnable);
  }
}

TEST(Transport, AStopOrTheTimeOutEndsEveryWaitForASilentServer) {
  enum class Step { kConnect, kTls, kRead, kTlsRead, kWrite };
  const std::string late = "The server 127.0.0.1 did not answer within 1 second ";
  const struct {
    Step step;
    uint16_t port;
    bool stop;  // else the 1 s time-out ends it
    std::string words;
  } cases[] = {
      {Step::kConnect, Server().unanswered_port, true, "Stopped"},
      {Step::kTls, Server().silent_port, true, "Stopped"},
      {Step::kRead, Server().silent_port, true, "Stopped"},
      {Step::kTlsRead, Server().dns_only_port, true, "Stopped"},
      {Step::kWrite, Server().silent_port, true, "Stopped"},
      {Step::kConnect, Server().unanswered_port, false, late + "(while connecting)"},
      {Step::kTls, Server().silent_port, false, late + "(during the TLS handshake)"},
      {Step::kRead, Server().silent_port, false, late + "(while receiving)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words + " at step " + std::to_string(static_cast<int>(c.step)));
    const auto transport = MakeNetworkTransport();
    Clock::time_point start;
    bool armed = false;  // only the step under test is stopped
    if (c.stop) transport->SetCancel([&] { return armed && Clock::now() - start > 300ms; });
    auto arm = [&] { armed = c.stop, start = Clock::now(); };
    if (c.step == Step::kConnect) arm();
    const std::string host = c.step == Step::kTlsRead ? "localhost" : "127.0.0.1";
    std::u16string error;
    bool ended = !transport->Connect(host, c.port, c.stop ? 60000 : 1000, error);
    ASSERT_EQ(ended, c.step == Step::kConnect) << Narrow(error);
    ASSERT_TRUE(c.step != Step::kTlsRead || transport->StartTls({Server().ca_file, ""}, error));
    if (c.step != Step::kConnect) arm();
    char buffer[100];
    size_t got = 0;
    if (c.step == Step::kTls) ended = !transport->StartTls({}, error);
    if (c.step == Step::kRead || c.step == Step::kTlsRead) {
      ended = transport->ReadSome(buffer, sizeof buffer, got, error) ==
              (c.stop ? TransportStatus::kStopped : TransportStatus::kFailed);
    }
    if (c.step == Step::kWrite) {
      const std::string bytes(64 << 20, 'x');  // far more than the sockets' buffers hold
      ended = transport->WriteAll(bytes.data(), bytes.size(), error) == TransportStatus::kStopped;
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(Narrow(error), c.words);
    EXPECT_LT(Clock::now() - start, 5s);
  }
}

}  // namespace
}  // namespace mailsheaf::upload_test
