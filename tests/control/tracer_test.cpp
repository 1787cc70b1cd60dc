// The TPKT trace listener on loopback: every client gets every frame, a
// client that cannot keep up or went away is dropped without holding up
// the others, and the frames that clients send are reassembled and checked.
#include "control/TPKTTracer.h"
#include "ControlTestUtil.h"

#include <gtest/gtest.h>

using namespace ctl_test;

namespace {

struct RecordingSink : TPKTTracer::Sink {
  void Receive(const void* data, unsigned length) override {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    frames.push_back(Bytes(p, p + length));
    if (echo) tracer->Send(data, length);
  }
  std::vector<Bytes> frames;
  TPKTTracer* tracer = nullptr;
  bool echo = false;
};

struct TracerTest : ::testing::Test {
  void SetUp() override {
    port = free_port();
    ASSERT_TRUE(tracer.Listen(static_cast<unsigned short>(port)));
    ASSERT_TRUE(tracer.listening());
    sink.tracer = &tracer;
    tracer.SetSink(&sink);
  }
  // Connects n more clients, one by one (the listening backlog is 1), and
  // waits until the tracer took each.
  void attach(std::vector<std::unique_ptr<Peer>>& peers, size_t n, int rcvbuf = 0) {
    for (size_t i = 0; i < n; ++i) {
      peers.emplace_back(new Peer);
      ASSERT_TRUE(peers.back()->connect(port, rcvbuf));
      const size_t want = tracer.clients() + 1;
      ASSERT_TRUE(pump([&] { return tracer.clients() == want; }));
    }
  }
  bool dropped(Peer& p) {
    return pump([&] {
      p.recv(1 << 20, 0);
      return p.eof();
    });
  }

  Capture cap;
  int port = 0;
  TPKTTracer tracer;
  RecordingSink sink;
};

}  // namespace

TEST_F(TracerTest, EveryClientReceivesEveryFrame) {
  tracer.Send("nobody", 6);  // no clients: nothing happens

  std::vector<std::unique_ptr<Peer>> peers;
  attach(peers, 3);
  std::string opened;
  for (auto& p : peers) opened += "ACP connection open from 127.0.0.1:" + std::to_string(p->local_port()) + "\n";
  EXPECT_EQ(cap.log(), opened);

  tracer.Send("abc", 3);
  tracer.Send("", 0);
  const std::string big(600, 'x');
  tracer.Send(big.data(), static_cast<unsigned>(big.size()));
  const std::string expect = "03 00 00 07 61 62 63 03 00 00 04 03 00 02 5C";
  for (auto& p : peers) {
    Bytes got = p->recv(7 + 4 + 604);
    ASSERT_EQ(got.size(), 615u);
    EXPECT_EQ(hex(Bytes(got.begin(), got.begin() + 15)), expect);
    EXPECT_EQ(Bytes(got.begin() + 15, got.end()), bytes(big));
  }
  EXPECT_EQ(tracer.clients(), 3u);
}

TEST_F(TracerTest, AClientThatCannotKeepUpIsDroppedAndTheOthersGetEveryFrame) {
  std::vector<std::unique_ptr<Peer>> peers;
  attach(peers, 1, 4096);  // the slow one: small buffer, never reads
  attach(peers, 1);
  Peer& slow = *peers[0];
  Peer& fast = *peers[1];
  const std::string payload(30000, 'f');
  int sent = 0;
  while (tracer.clients() == 2 && sent < 200) {
    tracer.Send(payload.data(), static_cast<unsigned>(payload.size()));
    ++sent;
    // The fast client keeps up.
    ASSERT_EQ(fast.recv(30004).size(), 30004u) << "frame " << sent;
  }
  EXPECT_EQ(tracer.clients(), 1u) << "the slow client was never dropped";
  // One more frame still reaches the one that reads.
  tracer.Send("end", 3);
  EXPECT_EQ(hex(fast.recv(7)), "03 00 00 07 65 6E 64");
  // What the slow one got before it was dropped is whole frames and then
  // possibly the start of one, and then the close.
  EXPECT_TRUE(dropped(slow));
}

TEST_F(TracerTest, AClientThatWentAwayIsDroppedAtTheNextFrameWithoutHarm) {
  std::vector<std::unique_ptr<Peer>> peers;
  attach(peers, 2);
  peers[0]->close();
  ::usleep(20000);
  // Not running the loop: the sends themselves meet the dead socket (a
  // reset, then a broken pipe, which must not raise a signal).
  tracer.Send("one", 3);
  tracer.Send("two", 3);
  tracer.Send("six", 3);
  EXPECT_EQ(tracer.clients(), 1u);
  EXPECT_EQ(hex(peers[1]->recv(21)), "03 00 00 07 6F 6E 65 03 00 00 07 74 77 6F 03 00 00 07 73 69 78");
}

TEST_F(TracerTest, AHangUpSeenByTheLoopClosesThatClient) {
  std::vector<std::unique_ptr<Peer>> peers;
  attach(peers, 2);
  peers[0]->abort();
  ASSERT_TRUE(pump([&] { return tracer.clients() == 1; }));
  tracer.Send("x", 1);
  EXPECT_EQ(hex(peers[1]->recv(5)), "03 00 00 05 78");
}

TEST_F(TracerTest, ClientFramesAreReassembledAndHandedToTheSink) {
  std::vector<std::unique_ptr<Peer>> peers;
  attach(peers, 1);
  Peer& c = *peers[0];
  // Two frames and an empty one in one piece, then a frame one byte at a
  // time, then a payload of exactly the 512-byte limit.
  ASSERT_TRUE(c.send({3, 0, 0, 6, 'h', 'i', 3, 0, 0, 4, 3, 0, 0, 5, '!'}));
  ASSERT_TRUE(pump([&] { return sink.frames.size() == 2; }));
  EXPECT_EQ(hex(sink.frames[0]), "68 69");
  EXPECT_EQ(hex(sink.frames[1]), "21");
  for (unsigned char b : Bytes{3, 0, 0, 7, 'a', 'b', 'c'}) {
    ASSERT_TRUE(c.send({b}));
    pump([] { return false; }, 20);  // one readable event per byte
  }
  ASSERT_TRUE(pump([&] { return sink.frames.size() == 3; }));
  EXPECT_EQ(hex(sink.frames[2]), "61 62 63");
  Bytes limit{3, 0, 0x02, 0x04};
  limit.resize(4 + 512, 'z');
  ASSERT_TRUE(c.send(limit));
  ASSERT_TRUE(pump([&] { return sink.frames.size() == 4; }));
  EXPECT_EQ(sink.frames[3], Bytes(512, 'z'));
  EXPECT_EQ(tracer.clients(), 1u);

  // Without a sink the frames are read and dropped.
  tracer.SetSink(nullptr);
  ASSERT_TRUE(c.send({3, 0, 0, 5, 'q'}));
  EXPECT_FALSE(pump([&] { return tracer.clients() != 1; }, 100));
  EXPECT_EQ(sink.frames.size(), 4u);
}

TEST_F(TracerTest, ABadFrameClosesOnlyThatClient) {
  const std::vector<Bytes> bad = {
      {3, 0, 0x02, 0x05},  // 513 bytes of payload
      {4, 0, 0, 5, 'x'},   // version
      {3, 1, 0, 5, 'x'},   // reserved byte
      {3, 0, 0, 3},        // shorter than its header
  };
  std::vector<std::unique_ptr<Peer>> peers;
  attach(peers, 1);
  Peer& good = *peers[0];
  for (const Bytes& b : bad) {
    std::vector<std::unique_ptr<Peer>> one;
    attach(one, 1);
    ASSERT_TRUE(one[0]->send(b));
    EXPECT_TRUE(dropped(*one[0])) << hex(b);
    EXPECT_EQ(tracer.clients(), 1u);
  }
  EXPECT_TRUE(sink.frames.empty());
  tracer.Send("ok", 2);
  EXPECT_EQ(hex(good.recv(6)), "03 00 00 06 6F 6B");
}

TEST_F(TracerTest, AnAnswerFromTheSinkGoesToTheSenderOnly) {
  sink.echo = true;
  std::vector<std::unique_ptr<Peer>> peers;
  attach(peers, 2);
  ASSERT_TRUE(peers[1]->send({3, 0, 0, 6, 'm', 'e'}));
  Bytes back = peers[1]->recv_pumping(6);
  EXPECT_EQ(hex(back), "03 00 00 06 6D 65");
  EXPECT_TRUE(peers[0]->recv(1, 50).empty());
  // Outside the sink, everybody again.
  tracer.Send("all", 3);
  EXPECT_EQ(peers[0]->recv(7).size(), 7u);
  EXPECT_EQ(peers[1]->recv(7).size(), 7u);
}

// A sink that keeps answering a client that never reads until that client
// is dropped, and only then looks at the payload it was handed.
struct FloodingSink : TPKTTracer::Sink {
  void Receive(const void* data, unsigned length) override {
    const std::string answer(30000, 'a');
    const size_t before = tracer->clients();
    for (int i = 0; i < 200 && tracer->clients() == before; ++i)
      tracer->Send(answer.data(), static_cast<unsigned>(answer.size()));
    dropped = tracer->clients() < before;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    seen = Bytes(p, p + length);
  }
  TPKTTracer* tracer = nullptr;
  bool dropped = false;
  Bytes seen;
};

TEST_F(TracerTest, APayloadOutlivesTheDropOfItsClientInsideTheSink) {
  FloodingSink flood;
  flood.tracer = &tracer;
  tracer.SetSink(&flood);
  std::vector<std::unique_ptr<Peer>> peers;
  attach(peers, 1, 4096);  // never reads what it is sent
  attach(peers, 1);
  ASSERT_TRUE(peers[0]->send({3, 0, 0, 9, 'h', 'e', 'l', 'l', 'o'}));
  ASSERT_TRUE(pump([&] { return !flood.seen.empty(); }));
  EXPECT_TRUE(flood.dropped);
  EXPECT_EQ(hex(flood.seen), "68 65 6C 6C 6F");
  EXPECT_EQ(tracer.clients(), 1u);
  EXPECT_TRUE(dropped(*peers[0]));
  // The answers went to the sender only.
  EXPECT_TRUE(peers[1]->recv(1, 50).empty());
  tracer.Send("ok", 2);
  EXPECT_EQ(hex(peers[1]->recv(6)), "03 00 00 06 6F 6B");
}

TEST(Tracer, AnOccupiedPortIsReportedAndSendingStillDoesNothing) {
  Capture cap;
  const int port = free_port();
  int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<unsigned short>(port));
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);
  TPKTTracer t;
  EXPECT_FALSE(t.Listen(static_cast<unsigned short>(port)));
  EXPECT_FALSE(t.listening());
  t.Send("x", 1);
  EXPECT_EQ(cap.err() + cap.log() + cap.out(), "");
  ::close(blocker);
}
