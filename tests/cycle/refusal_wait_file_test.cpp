// The wait file tells nobody the SMTP password: it is the owner's alone, and its fingerprint is
// keyed with a secret kept beside the settings. Times are counted from the refused cycle's start
// and a wrong clock's far-off time is written back capped.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/cycle/RefusalBackoff.h"
#include "support/TempDir.h"

namespace tarnwick {
namespace {

std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

mode_t Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// What the file held before: SHA-256 over the length-prefixed fields, open to a dictionary.
std::string UnkeyedDigest(std::initializer_list<std::string> texts) {
    std::string message;
    for (const std::string& t : texts) message += std::to_string(t.size()) + ":" + t;
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest);
    std::string hex;
    for (unsigned char b : digest) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    return hex;
}

TEST(RefusalWaitFile, PrivateKeyedAndCountedFromTheCycleStart) {
    const std::string dir = test::ProcessTempDir();
    const std::string keyFile = TRefusalBackoff::KeyFileFor(dir + "/tarnwick.ini");
    EXPECT_EQ(keyFile, dir + "/tarnwick.key");
    const mode_t mask = ::umask(022);
    const std::string key = TRefusalBackoff::FingerprintKey(keyFile);
    EXPECT_EQ(key.size(), 64u);
    EXPECT_EQ(Mode(keyFile), 0600u);
    EXPECT_EQ(TRefusalBackoff::FingerprintKey(keyFile), key) << "kept from one run to the next";

    const std::initializer_list<std::string> fields = {"smtp.example.jp", "taro", "secret", "me@example.jp"};
    const std::string fingerprint = TRefusalBackoff::FingerprintOf(key, fields);
    EXPECT_NE(fingerprint, UnkeyedDigest(fields));
    EXPECT_NE(fingerprint, TRefusalBackoff::FingerprintOf(key, {"smtp.example.jp", "taro", "new", "me@example.jp"}))
        << "a new password lets waiting mail go at once";

    int64_t now = 1'700'000'000;
    const std::string path = dir + "/me@example.jp.txt.wait";
    {
        TRefusalBackoff backoff(path, fingerprint, 600, [&] { return now; });
        backoff.Load();
        now += 300;  // the refusal comes late in the cycle
        EXPECT_EQ(backoff.Refused("a"), 1'700'000'600);
        backoff.Save();
    }
    ::umask(mask);
    EXPECT_EQ(Mode(path), 0600u);
    EXPECT_EQ(Get(path), "tarnwick-backoff 1 " + fingerprint + "\n1700000600\t600\ta\n");
    EXPECT_EQ(Get(path).find("secret"), std::string::npos);

    // A time set by a clock far ahead goes back to the file capped, with nothing else changed.
    std::ofstream(path, std::ios::binary) << "tarnwick-backoff 1 " << fingerprint << "\n99999999999\t600\ta\n";
    TRefusalBackoff backoff(path, fingerprint, 600, [&] { return now; });
    backoff.Load();
    backoff.Save();
    EXPECT_EQ(Get(path), "tarnwick-backoff 1 " + fingerprint + "\n" + std::to_string(now + 86400) + "\t600\ta\n");

    // A key others can read is no secret: a new one is made.
    ::chmod(keyFile.c_str(), 0644);
    EXPECT_NE(TRefusalBackoff::FingerprintKey(keyFile), key);
    EXPECT_EQ(Mode(keyFile), 0600u);
    ::unlink(keyFile.c_str());
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace tarnwick
