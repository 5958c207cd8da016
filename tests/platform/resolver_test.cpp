// Host names and the resolver: WinSock failure codes on both systems, and no name
// (however long or odd) can make a call misbehave.
#include "platform/resolver.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sockets.h"

namespace qm::platform {
namespace {

class Resolver : public ::testing::Test {
  protected:
    SocketsGuard guard_;
    void SetUp() override { ASSERT_TRUE(guard_.Ok()); }
};

TEST_F(Resolver, KnownNamesResolveToIPv4) {
    uint32_t addr = 0;
    int error = -1;
    ASSERT_TRUE(ResolveHost("localhost", addr, error)) << error;
    EXPECT_EQ(InetNtoa(addr).rfind("127.", 0), 0u) << InetNtoa(addr);
    ASSERT_TRUE(ResolveHost("127.0.0.1", addr, error));
    EXPECT_EQ(addr, InetAddr("127.0.0.1"));
}

TEST_F(Resolver, UnknownHostGivesWinsockHostNotFound) {
    uint32_t addr = 12345;
    int error = 0;
    SetLastSocketError(0);
    EXPECT_FALSE(ResolveHost("no-such-host.invalid", addr, error));
    EXPECT_EQ(error, kWsaHostNotFound);
    EXPECT_EQ(LastSocketError(), kWsaHostNotFound);
}

TEST_F(Resolver, OddNamesFailWithoutHarm) {
    const std::string names[] = {
        "", std::string(256, 'a'), std::string(100000, 'b') + ".invalid",
        std::string("local\0host", 10),  // a zero byte must not cut the name short
    };
    for (const std::string& name : names) {
        uint32_t addr = 0;
        int error = 0;
        EXPECT_FALSE(ResolveHost(name, addr, error)) << name.size();
        EXPECT_GE(error, 10004) << name.size();
        EXPECT_LE(error, 11004) << name.size();
        EXPECT_TRUE(ResolveHostAll(name, error).empty());
    }
}

TEST_F(Resolver, HostNameAndLocalAddresses) {
    std::string name = HostName();
    ASSERT_FALSE(name.empty());
    std::vector<uint32_t> local = LocalIPv4Addresses();
    // Every machine here resolves its own name; the list has no repeats.
    ASSERT_FALSE(local.empty()) << name;
    for (size_t i = 0; i < local.size(); ++i) {
        EXPECT_NE(local[i], 0u);
        for (size_t j = i + 1; j < local.size(); ++j) EXPECT_NE(local[i], local[j]);
    }
}

}  // namespace
}  // namespace qm::platform
