// What --submit sends and keeps, without a hub: the replay's base64 and the pack's SHA-256 as a
// hub reads them, the hub URLs taken and refused, and the keys file read back as written.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/digest.h"
#include "desktop/hub_client.h"
#include "desktop/hub_keys.h"

namespace {

TEST(HubClient, Base64AndSha256AreTheStandardOnes) {
  // RFC 4648's examples: every padding case, and bytes above 127 taken as unsigned.
  const std::pair<std::string, std::string> base64[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\xff\xfe\x00", 3), "//4A"},
  };
  for (const auto& [bytes, text] : base64) EXPECT_EQ(base64_encode(bytes), text) << text;
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(HubClient, OnlyAHubsOwnAddressIsTaken) {
  const std::pair<const char*, const char*> taken[] = {
      {"http://127.0.0.1:8048", "http://127.0.0.1:8048"},
      {"https://hub.example.org/q47/", "https://hub.example.org/q47"},
      {"http://[::1]:8048//", "http://[::1]:8048"},
  };
  for (const auto& [given, normal] : taken) {
    std::string problem;
    EXPECT_EQ(hub_url_normal(given, problem), normal) << problem;
  }
  for (const char* refused : {"ftp://hub.example.org", "file:///etc/passwd", "not a url",
                              "http://hub.example.org/?x=1", "http://hub.example.org/#top", ""}) {
    std::string problem;
    EXPECT_EQ(hub_url_normal(refused, problem), "") << refused;
    EXPECT_FALSE(problem.empty()) << refused;
  }
}

TEST(HubKeys, ReadBackAsWrittenAndNothingElse) {
  const std::string key_a(64, 'a');
  const std::string key_b = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  std::map<std::string, std::string> keys;
  // Two exports joined by hand: the later key for a hub is named by its line, never used over
  // the first (the same key twice is no second key).
  std::vector<int> repeated;
  ASSERT_TRUE(hub_keys_parse("# mine\n\nhttp://a:1 " + key_a + "\r\n  https://b\t" + key_b +
                                 "\nhttp://a:1 " + key_b + "\nhttps://b " + key_b,
                             keys, &repeated));
  EXPECT_EQ(keys,
            (std::map<std::string, std::string>{{"http://a:1", key_a}, {"https://b", key_b}}));
  EXPECT_EQ(repeated, std::vector<int>{5});
  std::map<std::string, std::string> again;
  ASSERT_TRUE(hub_keys_parse(hub_keys_format(keys), again));
  EXPECT_EQ(again, keys);
  // A key that is not 64 lowercase hex digits, or a line of another shape, spoils the file.
  for (const std::string& bad :
       {"http://a " + std::string(63, 'a'), "http://a " + std::string(64, 'A'), key_a,
        "http://a " + key_a + " extra"}) {
    std::map<std::string, std::string> none;
    EXPECT_FALSE(hub_keys_parse(bad, none)) << bad;
  }
}

}  // namespace
