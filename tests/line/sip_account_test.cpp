// The SIP account's pieces that need no server: the registrar URI, the password file's rules,
// the back-off between attempts and the addresses INVITEs are taken from.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "line/fax_line.h"
#include "core/secret_file.h"
#include "line/line_endpoint.h"
#include "line/sip_registration.h"

namespace qv::line {
namespace {

class TempFile {
 public:
  explicit TempFile(const std::string& text, mode_t mode) {
    char name[] = "/tmp/qv_secret_XXXXXX";
    const int fd = mkstemp(name);
    path_ = name;
    if (fd >= 0) {
      (void)!write(fd, text.data(), text.size());
      fchmod(fd, mode);
      close(fd);
    }
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(SipUri, HostAndPortOfTheRegistrar) {
  std::string host;
  int port = 0;
  ASSERT_TRUE(SipUriHostPort("sip:127.0.0.1:45060", host, port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 45060);
  ASSERT_TRUE(SipUriHostPort("<sip:alice@sip.example.net;transport=udp>", host, port));
  EXPECT_EQ(host, "sip.example.net");
  EXPECT_EQ(port, 5060);
  ASSERT_TRUE(SipUriHostPort("sip:[::1]:5070", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 5070);
  for (const char* bad : {"", "sip:", "http://example.net", "sip:host:", "sip:host:99999", "sip:host:5x",
                          "<sip:host", "sip:[::1"})
    EXPECT_FALSE(SipUriHostPort(bad, host, port)) << bad;
}

TEST(SipUri, DigitsAreCalledInTheAccountsDomain) {
  SipAccount account;
  account.registrar = "sip:10.1.2.3:5080";
  account.user = "1001";
  EXPECT_EQ(account.Domain(), "10.1.2.3");
  account.domain = "fax.example";
  EXPECT_EQ(account.AddressOfRecord(), "sip:1001@fax.example");
  EXPECT_EQ(DialUri("T 0 1002", account.Domain()), "sip:01002@fax.example");
  EXPECT_EQ(DialUri("sip:other@elsewhere.example", account.Domain()), "sip:other@elsewhere.example");
}

TEST(PasswordFile, OnlyAFileItsOwnerAloneMayReadIsTaken) {
  std::string secret;
  {
    TempFile f("s3cret\n", 0600);
    EXPECT_EQ(core::ReadSecretFile(f.path(), secret), "");
    EXPECT_EQ(secret, "s3cret");  // the line end is not part of it
  }
  for (mode_t open : {0640, 0604, 0644, 0660}) {
    TempFile f("leaked\n", open);
    secret.clear();
    const std::string why = core::ReadSecretFile(f.path(), secret);
    EXPECT_NE(why.find("read by others"), std::string::npos) << std::oct << open << ": " << why;
    EXPECT_EQ(why.find("leaked"), std::string::npos) << why;  // the refusal never shows it
    EXPECT_TRUE(secret.empty());
  }
  {
    TempFile f("\n", 0600);
    EXPECT_NE(core::ReadSecretFile(f.path(), secret).find("empty"), std::string::npos);
  }
  {
    TempFile f(std::string(5000, 'x'), 0600);
    EXPECT_NE(core::ReadSecretFile(f.path(), secret).find("too long"), std::string::npos);
  }
  EXPECT_NE(core::ReadSecretFile("/nonexistent/qv/secret", secret).find("cannot read"), std::string::npos);
  // What the desktop writes when no secret service runs is what the line reads back.
  {
    TempFile f("", 0600);
    ASSERT_EQ(core::WriteSecretFile(f.path(), "written pw"), "");
    struct stat st {};
    ASSERT_EQ(stat(f.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(core::ReadSecretFile(f.path(), secret), "");
    EXPECT_EQ(secret, "written pw");
  }
  // A link is not followed: it could point the line at someone else's file.
  TempFile target("s3cret\n", 0600);
  const std::string link = target.path() + ".link";
  ASSERT_EQ(symlink(target.path().c_str(), link.c_str()), 0);
  EXPECT_NE(core::ReadSecretFile(link, secret), "");
  unlink(link.c_str());
}

TEST(RegistrationBackOff, DoublesUpToItsCeilingAndStartsOverAfterSuccess) {
  BackOff b(std::chrono::seconds(5), std::chrono::seconds(30));
  EXPECT_EQ(b.Next().count(), 5);
  EXPECT_EQ(b.Next().count(), 10);
  EXPECT_EQ(b.Next().count(), 20);
  EXPECT_EQ(b.Next().count(), 30);
  EXPECT_EQ(b.Next().count(), 30);
  b.Reset();
  EXPECT_EQ(b.Next().count(), 5);
}

sockaddr_in V4(const char* text) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, text, &a.sin_addr);
  return a;
}

sockaddr_in V4(const char* text, uint16_t port) {
  sockaddr_in a = V4(text);
  a.sin_port = htons(port);
  return a;
}

const sockaddr* Sa(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }

// A datagram is the registrar's only from its address and its port: a program on the proxy's own
// host (a scanner) sends from another port.
TEST(TrustedSourcesTest, TheRegistrarsAddressAndPortOnly) {
  TrustedSources t;
  ASSERT_EQ(t.Resolve("127.0.0.1", 5080), "");
  EXPECT_TRUE(t.Contains(Sa(V4("127.0.0.1", 5080))));
  EXPECT_FALSE(t.Contains(Sa(V4("127.0.0.1", 5060))));
  EXPECT_FALSE(t.Contains(Sa(V4("127.0.0.1", 40123))));
  EXPECT_FALSE(t.Contains(Sa(V4("127.0.0.3", 5080))));
  // The same IPv4 registrar seen through a dual-stack socket.
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = htons(5080);
  inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr);
  EXPECT_TRUE(t.Contains(reinterpret_cast<sockaddr*>(&mapped)));
  mapped.sin6_port = htons(5081);
  EXPECT_FALSE(t.Contains(reinterpret_cast<sockaddr*>(&mapped)));
  inet_pton(AF_INET6, "::ffff:127.0.0.3", &mapped.sin6_addr);
  mapped.sin6_port = htons(5080);
  EXPECT_FALSE(t.Contains(reinterpret_cast<sockaddr*>(&mapped)));
  EXPECT_FALSE(t.Contains(nullptr));
  // Over TCP a proxy's new connection comes from a port its system picks: the address decides.
  EXPECT_TRUE(t.Contains(Sa(V4("127.0.0.1", 40123)), TrustedSources::Transport::Stream));
  EXPECT_FALSE(t.Contains(Sa(V4("127.0.0.3", 5080)), TrustedSources::Transport::Stream));
  // Resolving again (the server moved) replaces the old addresses.
  ASSERT_EQ(t.Resolve("127.0.0.2", 5060), "");
  EXPECT_FALSE(t.Contains(Sa(V4("127.0.0.1", 5080))));
  EXPECT_TRUE(t.Contains(Sa(V4("127.0.0.2", 5060))));
  EXPECT_NE(t.Resolve("nonexistent.invalid", 5060), "");
}

// A registrar whose name leads elsewhere (another port or host) is found where it answered from;
// what is learned stays bounded.
TEST(TrustedSourcesTest, WhereTheRegistrarAnsweredFromIsLearnedAndBounded) {
  TrustedSources t;
  ASSERT_EQ(t.Resolve("127.0.0.1", 5060), "");
  t.Learn(Sa(V4("127.0.0.9", 5070)));
  EXPECT_TRUE(t.Contains(Sa(V4("127.0.0.9", 5070))));
  EXPECT_FALSE(t.Contains(Sa(V4("127.0.0.9", 5071))));
  // Learned sources outlive a new resolution: the registrar answered from there.
  ASSERT_EQ(t.Resolve("127.0.0.1", 5060), "");
  EXPECT_TRUE(t.Contains(Sa(V4("127.0.0.9", 5070))));
  for (uint16_t p = 1; p <= TrustedSources::kMaxLearned; ++p) t.Learn(Sa(V4("127.0.0.10", p)));
  EXPECT_FALSE(t.Contains(Sa(V4("127.0.0.9", 5070))));  // the oldest made room
  EXPECT_TRUE(t.Contains(Sa(V4("127.0.0.10", 1))));
  EXPECT_TRUE(t.Contains(Sa(V4("127.0.0.10", TrustedSources::kMaxLearned))));
  t.Learn(nullptr);
}

// The reserved "invalid" domain is never asked of the resolver, whatever its case or a final dot;
// names that only look like it are.
TEST(ReservedNames, InvalidNamesNeverResolveOthersAreAsked) {
  EXPECT_TRUE(NameNeverResolves("invalid"));
  EXPECT_TRUE(NameNeverResolves("registrar.nonexistent.invalid"));
  EXPECT_TRUE(NameNeverResolves("Registrar.Example.INVALID."));
  EXPECT_FALSE(NameNeverResolves("notinvalid"));
  EXPECT_FALSE(NameNeverResolves("invalid.example"));
  EXPECT_FALSE(NameNeverResolves("127.0.0.1"));
  EXPECT_FALSE(NameNeverResolves(""));
  EXPECT_FALSE(HostResolves("sip.invalid"));
  EXPECT_TRUE(HostResolves("127.0.0.1"));
  std::string address;
  int port = 0;
  EXPECT_FALSE(LocalEndpoint("sip.invalid", 5060, address, port));
  EXPECT_TRUE(LocalEndpoint("127.0.0.1", 5060, address, port));
  EXPECT_EQ(address, "127.0.0.1");
}

}  // namespace
}  // namespace qv::line
