#include "platform/socket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace vxt {
namespace {

constexpr std::uint32_t loopback = 0x7F000001;   // 127.0.0.1
constexpr std::uint32_t loopback2 = 0x7F000002;  // 127.0.0.2

// Owns the sockets a test makes and closes them at the end.
class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(socket_layer_start()); }
  void TearDown() override {
    for (const Socket s : open_) socket_close(s);
  }

  Socket keep(Socket s) {
    EXPECT_NE(s, invalid_socket) << "errno " << socket_last_error();
    if (s != invalid_socket) open_.push_back(s);
    return s;
  }
  Socket udp_on(std::uint32_t address, std::uint16_t port = 0) {
    const Socket s = keep(udp_socket());
    EXPECT_TRUE(socket_bind(s, address, port)) << "errno " << socket_last_error();
    return s;
  }
  // A listening TCP socket on loopback; accepting is the peer's business, done with POSIX here.
  Socket tcp_listener() {
    const Socket s = keep(tcp_socket());
    EXPECT_TRUE(socket_bind(s, loopback, 0));
    EXPECT_EQ(::listen(s, 4), 0);
    return s;
  }
  Socket accept_on(Socket listener) { return keep(::accept(listener, nullptr, nullptr)); }

 private:
  std::vector<Socket> open_;
};

TEST_F(SocketTest, TcpExchangeAndPeerClose) {
  const Socket listener = tcp_listener();
  const Socket client = keep(tcp_socket());
  ASSERT_TRUE(socket_connect(client, loopback, socket_local_port(listener)));
  const Socket server = accept_on(listener);

  ASSERT_EQ(socket_send(client, "GET", 3), 3);
  char buffer[16] = {};
  ASSERT_EQ(::recv(server, buffer, sizeof buffer, 0), 3);
  EXPECT_EQ(std::string(buffer, 3), "GET");

  ASSERT_EQ(::send(server, "reply", 5, 0), 5);
  ASSERT_EQ(::shutdown(server, SHUT_WR), 0);
  std::string received;
  int count;
  while ((count = socket_receive(client, buffer, 2)) > 0) received.append(buffer, count);
  EXPECT_EQ(count, 0) << "the peer's close reads as 0";
  EXPECT_EQ(received, "reply");
}

TEST_F(SocketTest, SendToClosedPeerFailsWithoutEndingTheProcess) {
  const Socket listener = tcp_listener();
  const Socket client = keep(tcp_socket());
  ASSERT_TRUE(socket_connect(client, loopback, socket_local_port(listener)));
  const Socket server = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(server, 0);
  ::close(server);

  // The first send may still be accepted; the reset it provokes fails a later one.
  int result = 0;
  for (int attempt = 0; attempt < 100 && result >= 0; ++attempt) {
    result = socket_send(client, "x", 1);
  }
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(socket_last_error() == EPIPE || socket_last_error() == ECONNRESET)
      << socket_last_error();
}

TEST_F(SocketTest, ConnectToPortWithoutListenerFails) {
  const Socket bound_only = keep(tcp_socket());  // holds the port, never listens
  ASSERT_TRUE(socket_bind(bound_only, loopback, 0));
  const Socket client = keep(tcp_socket());
  EXPECT_FALSE(socket_connect(client, loopback, socket_local_port(bound_only)));
  EXPECT_EQ(socket_last_error(), ECONNREFUSED);
}

TEST_F(SocketTest, ShutdownReceiveEndsReading) {
  const Socket listener = tcp_listener();
  const Socket client = keep(tcp_socket());
  ASSERT_TRUE(socket_connect(client, loopback, socket_local_port(listener)));
  accept_on(listener);
  socket_shutdown_receive(client);
  char buffer[4];
  EXPECT_EQ(socket_receive(client, buffer, sizeof buffer), 0);
}

TEST_F(SocketTest, DatagramCarriesSourceAddressAndPort) {
  const Socket receiver = udp_on(loopback);
  const Socket sender = udp_on(loopback2);
  ASSERT_EQ(socket_send_to(sender, "ping", 4, loopback, socket_local_port(receiver)), 4);

  char buffer[16] = {};
  std::uint32_t from_address = 0;
  std::uint16_t from_port = 0;
  ASSERT_EQ(socket_receive_from(receiver, buffer, sizeof buffer, &from_address, &from_port), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  EXPECT_EQ(from_address, loopback2);
  EXPECT_EQ(from_port, socket_local_port(sender));

  // The source is optional.
  ASSERT_EQ(socket_send_to(sender, "pong", 4, loopback, socket_local_port(receiver)), 4);
  EXPECT_EQ(socket_receive_from(receiver, buffer, sizeof buffer, nullptr, nullptr), 4);
}

TEST_F(SocketTest, NonBlockingReceiveWithNothingPendingFails) {
  const Socket receiver = udp_on(loopback);
  ASSERT_TRUE(socket_set_non_blocking(receiver));
  char buffer[8];
  std::uint32_t from_address = 0xDEADBEEF;
  EXPECT_EQ(socket_receive_from(receiver, buffer, sizeof buffer, &from_address, nullptr), -1);
  EXPECT_TRUE(socket_last_error() == EAGAIN || socket_last_error() == EWOULDBLOCK);
  EXPECT_EQ(from_address, 0xDEADBEEFu) << "no source is reported for nothing";
}

// Datagrams around the buffer's size, received in the order sent into a buffer of `capacity`
// bytes followed by a guard that must stay untouched.
TEST_F(SocketTest, DatagramSizesAroundTheCapacity) {
  constexpr int capacity = 8;
  constexpr char guard = '#';
  struct Case {
    int length;
    int expected;  // the result; -1 means too long (EMSGSIZE)
  };
  const Case cases[] = {
      {capacity - 1, capacity - 1}, {capacity, capacity},
      {capacity + 1, -1},           {0, 0},  // an empty datagram is received as such
      {3 * capacity, -1},           {1, 1},
  };

  const Socket receiver = udp_on(loopback);
  const Socket sender = udp_on(loopback);
  const std::uint16_t port = socket_local_port(receiver);
  for (const Case& c : cases) {
    std::string payload;
    for (int i = 0; i < c.length; ++i) payload.push_back(static_cast<char>('a' + i % 26));
    ASSERT_EQ(socket_send_to(sender, payload.data(), c.length, loopback, port), c.length);
  }
  ASSERT_TRUE(socket_set_non_blocking(receiver));  // everything sent is already queued

  for (const Case& c : cases) {
    SCOPED_TRACE("datagram of " + std::to_string(c.length) + " bytes");
    char buffer[capacity + 4];
    std::memset(buffer, guard, sizeof buffer);
    const int result = socket_receive_from(receiver, buffer, capacity, nullptr, nullptr);
    ASSERT_EQ(result, c.expected);
    if (c.expected < 0) {
      EXPECT_EQ(socket_last_error(), EMSGSIZE);
    } else {
      for (int i = 0; i < c.expected; ++i) EXPECT_EQ(buffer[i], static_cast<char>('a' + i));
    }
    for (std::size_t i = capacity; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], guard);
  }
  char buffer[capacity];
  EXPECT_EQ(socket_receive_from(receiver, buffer, capacity, nullptr, nullptr), -1)
      << "a too-long datagram is consumed, not left queued";
  EXPECT_EQ(socket_last_error(), EAGAIN);
}

TEST_F(SocketTest, WaitForADatagramEndsWhenOneArrives) {
  const Socket receiver = udp_on(loopback);
  const Socket sender = udp_on(loopback2);
  ASSERT_TRUE(socket_set_non_blocking(receiver));
  EXPECT_FALSE(socket_wait_readable(receiver, 1)) << "nothing pending";
  EXPECT_FALSE(socket_wait_readable(receiver, 0));

  ASSERT_EQ(socket_send_to(sender, "a", 1, loopback, socket_local_port(receiver)), 1);
  EXPECT_TRUE(socket_wait_readable(receiver, 0)) << "already pending: no wait needed";
  char buffer[4];
  ASSERT_EQ(socket_receive_from(receiver, buffer, sizeof buffer, nullptr, nullptr), 1);

  // A datagram sent while the wait runs ends it; the long limit only guards against a hang.
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    socket_send_to(sender, "b", 1, loopback, socket_local_port(receiver));
  });
  EXPECT_TRUE(socket_wait_readable(receiver, 60000));
  late.join();
  EXPECT_TRUE(socket_wait_readable_us(receiver, 0)) << "a wait does not take the datagram";
  EXPECT_EQ(socket_receive_from(receiver, buffer, sizeof buffer, nullptr, nullptr), 1);
  EXPECT_FALSE(socket_wait_readable_us(receiver, 500));
}

TEST_F(SocketTest, EndpointsCarryNetworkOrder) {
  EXPECT_EQ(network_to_host_32(host_to_network_32(0x0A010002)), 0x0A010002u);
  EXPECT_EQ(network_to_host_16(host_to_network_16(69)), 69);
  const std::uint32_t wire = host_to_network_32(0x0A010002);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&wire);
  EXPECT_EQ(bytes[0], 10);  // first dotted part first
  EXPECT_EQ(bytes[3], 2);

  const Socket receiver = udp_on(loopback);
  const Socket sender = udp_on(loopback2);
  const Ipv4Endpoint to{host_to_network_32(loopback),
                        host_to_network_16(socket_local_port(receiver))};
  ASSERT_EQ(socket_send_to_endpoint(sender, "xyz", 3, to), 3);
  Ipv4Endpoint from{0, 0};
  char buffer[8];
  ASSERT_EQ(socket_receive_from_endpoint(receiver, buffer, sizeof buffer, &from), 3);
  EXPECT_EQ(from.address, host_to_network_32(loopback2));
  EXPECT_EQ(from.port, host_to_network_16(socket_local_port(sender)));
}

TEST_F(SocketTest, SecondBindToTheSamePortNeedsAddressReuse) {
  struct Case {
    const char* name;
    std::uint32_t first_address;
    std::uint32_t second_address;
    bool reuse;
    bool second_binds;
  };
  const Case cases[] = {
      {"same address, no reuse", loopback, loopback, false, false},
      {"any beside specific, no reuse", 0, loopback2, false, false},
      {"same address, reuse", loopback, loopback, true, true},
      // The simulated device's pair: any-bound for the group, 127.0.0.2 for its unicast.
      {"any beside specific, reuse", 0, loopback2, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Socket first = keep(udp_socket());
    const Socket second = keep(udp_socket());
    if (c.reuse) {
      ASSERT_TRUE(socket_allow_address_reuse(first));
      ASSERT_TRUE(socket_allow_address_reuse(second));
    }
    ASSERT_TRUE(socket_bind(first, c.first_address, 0));
    const std::uint16_t port = socket_local_port(first);
    EXPECT_EQ(socket_bind(second, c.second_address, port), c.second_binds);
    if (c.second_binds) {
      EXPECT_EQ(socket_local_port(second), port);
    } else {
      EXPECT_EQ(socket_last_error(), EADDRINUSE);
    }
  }
}

TEST_F(SocketTest, LocalPort) {
  const Socket unbound = keep(udp_socket());
  EXPECT_EQ(socket_local_port(unbound), 0);
  EXPECT_EQ(socket_local_port(invalid_socket), 0);

  const Socket ephemeral = udp_on(loopback);
  const std::uint16_t port = socket_local_port(ephemeral);
  EXPECT_NE(port, 0);
  socket_close(ephemeral);
  // The same port named explicitly is reported back as given.
  const Socket explicit_port = keep(udp_socket());
  ASSERT_TRUE(socket_bind(explicit_port, loopback, port)) << "errno " << socket_last_error();
  EXPECT_EQ(socket_local_port(explicit_port), port);
}

TEST_F(SocketTest, FailuresSetTheLastError) {
  char buffer[4] = {};
  EXPECT_EQ(socket_send(invalid_socket, buffer, 1), -1);
  EXPECT_EQ(socket_last_error(), EBADF);
  EXPECT_EQ(socket_receive_from(invalid_socket, buffer, sizeof buffer, nullptr, nullptr), -1);
  EXPECT_EQ(socket_last_error(), EBADF);
  EXPECT_FALSE(socket_bind(invalid_socket, loopback, 0));
  EXPECT_EQ(socket_last_error(), EBADF);
  // A socket cannot take an address the machine does not have.
  const Socket s = keep(udp_socket());
  EXPECT_FALSE(socket_bind(s, 0xC0000201, 0));  // 192.0.2.1, a documentation address
  EXPECT_EQ(socket_last_error(), EADDRNOTAVAIL);
  // Zero room would otherwise read as "peer closed".
  EXPECT_EQ(socket_receive(s, buffer, 0), -1);
  EXPECT_EQ(socket_last_error(), EINVAL);
}

TEST(DottedToAddress, ParsesWhatInetPtonAccepts) {
  struct Case {
    const char* text;
    bool valid;
    std::uint32_t address;
  };
  const Case cases[] = {
      {"127.0.0.1", true, 0x7F000001},
      {"234.4.8.10", true, 0xEA04080A},
      {"0.0.0.0", true, 0},
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"192.168.1.20", true, 0xC0A80114},
      {"256.1.1.1", false, 0},
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"", false, 0},
      {"1.2.3.4 ", false, 0},
      {"a.b.c.d", false, 0},
      {"0x7f.0.0.1", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    std::uint32_t address = 0x12345678;
    EXPECT_EQ(dotted_to_address(c.text, &address), c.valid);
    EXPECT_EQ(address, c.valid ? c.address : 0x12345678u);
  }
  EXPECT_FALSE(dotted_to_address(nullptr, nullptr));
}

}  // namespace
}  // namespace vxt
