// The slot service: its answers and error causes, delayed destroy answers,
// trunk slots, the resources report, the trunk status relay, the factory
// order and the clean-up when the controller leaves (also with 1024 live
// slots, counting descriptors and bytes).
#include <dirent.h>
#include <malloc.h>

#include "SlotsTestUtil.h"
#include "board/Hal.h"
#include "protocol/ACP/ACP.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QV_ASAN 1
#endif
#ifdef QV_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace slots_test;
using Board::Hal;

namespace {

using SlotsServiceTest = SlotsTest;

TEST_F(SlotsServiceTest, EveryErrorCauseAndNothingElseChanges) {
  // Nothing registered.
  EXPECT_EQ(send(cmd(3, "connect : 4", 1) + "\n" + cmd(3, "disconnect : NULL", 2) + "\n" +
                     cmd(3, "destroy : NULL", 3) + "\n" + cmd(3, "activate : empty : NULL", 4) + "\n" +
                     cmd(3, "deactivate : NULL", 5) + "\n" + cmd(3, "userData : '0102'H", 6) + "\n" +
                     cmd(3, "ioctl : deactivateRecord : NULL", 7),
                 7),
            (std::vector<std::string>{err(3, "slotNotExists", 1), err(3, "slotNotExists", 2),
                                      err(3, "slotNotExists", 3), err(3, "slotNotExists", 4),
                                      err(3, "slotNotExists", 5), err(3, "slotNotExists", 6),
                                      err(3, "slotNotExists", 7)}));
  // No factory serves E1 trunk 4, BRI trunk 8, BRI channel 4 or spi-tdm.
  EXPECT_EQ(send(trunk(3, 4, 0, 1) + "\n" + cmd(3, "create : trunk_bri : { trunk 8, timeslot 0 }", 2) + "\n" +
                     cmd(3, "create : trunk_bri : { trunk 0, timeslot 4 }", 3) + "\n" +
                     cmd(3, "create : spi-tdm : { channel 1 }", 4),
                 4),
            (std::vector<std::string>{err(3, "insufficientResources", 1), err(3, "insufficientResources", 2),
                                      err(3, "insufficientResources", 3), err(3, "insufficientResources", 4)}));
  EXPECT_TRUE(Slots::instance().live().empty());

  send(trunk(3, 0, 1));
  // A trunk slot takes none of the commands of its own.
  EXPECT_EQ(send(cmd(3, "activate : empty : NULL", 4) + "\n" + cmd(3, "deactivate : NULL", 5) + "\n" +
                     cmd(3, "userData : '0102'H", 6) + "\n" + cmd(3, "ioctl : deactivateRecord : NULL", 7),
                 4),
            (std::vector<std::string>{err(3, "unsupported", 4), err(3, "unsupported", 5), err(3, "unsupported", 6),
                                      err(3, "unsupported", 7)}));
  EXPECT_EQ(send(cmd(3, "connect : 9")), std::vector<std::string>{err(3, "slotNotExists")});

  // Target 1024 cannot travel in the message: built by hand.
  LGCP::Message m;
  m.set_seq(9);
  m.set_slot(3);
  m.set_pdu().select_command().select_connect(1024);
  EXPECT_EQ(inject(m), std::vector<std::string>{err(3, "invalidSlot", 9)});

  // A query that names a slot is not the service's.
  EXPECT_EQ(send(cmd(3, "query : NULL")), std::vector<std::string>{err(3, "unexpectedMsgType")});
  EXPECT_EQ(Slots::instance().live().size(), 1u);
  EXPECT_EQ(slot(3)->GetSource(), nullptr);
  EXPECT_TRUE(slot(3)->GetSinks().empty());
}

TEST_F(SlotsServiceTest, ADelayedDestroyIsAnsweredWhenTheReleaseCompletes) {
  ProbeFactory::instance().next.asyncRelease = true;
  send(probe(5, 1, 2));
  ProbeFactory::instance().next.asyncRelease = false;
  send(probe(6, 3, 4));
  send(cmd(5, "connect : 6"));

  // No answer yet; the slot is cut from the graph at once.
  EXPECT_TRUE(send(cmd(5, "destroy : NULL", 7), 0).empty());
  EXPECT_TRUE(slot(5)->is_releasing());
  EXPECT_TRUE(slot(5)->GetSinks().empty());
  EXPECT_EQ(board().hal().channel(8196).kind, Hal::Channel::Driven);
  // Whatever names it meanwhile is refused.
  EXPECT_EQ(send(cmd(5, "destroy : NULL", 8) + "\n" + probe(5, 1, 2, 9) + "\n" + cmd(5, "connect : 6", 10) + "\n" +
                     cmd(6, "connect : 5", 11),
                 4),
            (std::vector<std::string>{err(5, "destroyInProgress", 8), err(5, "destroyInProgress", 9),
                                      err(5, "destroyInProgress", 10), err(6, "destroyInProgress", 11)}));
  // Nor does a factory's destroy start the release again.
  EXPECT_FALSE(Slots::instance().Destroy(slot(5)));
  const auto& c = ProbeFactory::instance().calls;
  EXPECT_EQ(std::count(c.begin(), c.end(), "05:probe before-destroy"), 1);

  slot(5)->on_release();
  EXPECT_EQ(collect(0), std::vector<std::string>{ok(5, 7)});
  EXPECT_EQ(slot(5), nullptr);
  EXPECT_EQ(send(cmd(5, "destroy : NULL")), std::vector<std::string>{err(5, "slotNotExists")});
  // A release reported on a slot in use changes nothing.
  slot(6)->on_release();
  EXPECT_NE(slot(6), nullptr);
}

TEST_F(SlotsServiceTest, CreateOverAnOccupiedNumber) {
  // A synchronous release: one answer, the old slot gone.
  send(probe(5, 1, 2));
  EXPECT_EQ(send(trunk(5, 1, 2)),
            (std::vector<std::string>{ok(5), stream(5, "transmitter", 34), stream(5, "receiver", 34)}));
  EXPECT_EQ(ProbeFactory::instance().calls.back(), "05:probe deleted");

  // An asynchronous one: refused, and the late release answers nothing.
  ProbeFactory::instance().next.asyncRelease = true;
  send(probe(6, 1, 2));
  EXPECT_EQ(send(trunk(6, 1, 3)), std::vector<std::string>{err(6, "slotIdBusy")});
  EXPECT_TRUE(slot(6)->is_releasing());
  slot(6)->on_release();
  EXPECT_TRUE(collect(0).empty());
  EXPECT_EQ(send(trunk(6, 1, 3)),
            (std::vector<std::string>{ok(6), stream(6, "transmitter", 35), stream(6, "receiver", 35)}));
}

TEST_F(SlotsServiceTest, AReleaseThatEndsInsideItsOwnHookIsAnsweredAtOnce) {
  ProbeFactory::instance().next.asyncRelease = true;
  ProbeFactory::instance().next.releaseInsideHook = true;
  send(probe(5, 1, 2));
  ProbeFactory::instance().calls.clear();
  EXPECT_EQ(send(cmd(5, "destroy : NULL", 4)), std::vector<std::string>{ok(5, 4)});
  EXPECT_EQ(ProbeFactory::instance().calls,
            (std::vector<std::string>{"05:probe before-destroy", "05:probe deleted"}));
  EXPECT_EQ(slot(5), nullptr);
}

TEST_F(SlotsServiceTest, TrunkSlots) {
  // Answer first, then both streams of channel 32n + t.
  EXPECT_EQ(send(trunk(5, 2, 5)),
            (std::vector<std::string>{ok(5), stream(5, "transmitter", 69), stream(5, "receiver", 69)}));
  EXPECT_EQ(send(cmd(6, "create : trunk_bri : { trunk 3, timeslot 2 }")),
            (std::vector<std::string>{ok(6), stream(6, "transmitter", 14), stream(6, "receiver", 14)}));
  EXPECT_EQ(slot(5)->GetTrunk(), 2);
  EXPECT_EQ(slot(5)->GetTrunkTimeSlot(), 5);
  EXPECT_EQ(slot(6)->GetTrunk(), 3);
  EXPECT_EQ(slot(6)->GetTrunkTimeSlot(), 2);
  EXPECT_STREQ(slot(6)->GetName(), "trunkBRI");
  EXPECT_STREQ(slot(6)->GetSlotFactory()->GetName(), "TrunksBRI");

  // A second slot on a held time-slot displaces the first, silently.
  send(cmd(6, "connect : 5"));
  Capture cap;
  EXPECT_EQ(send(trunk(7, 2, 5)),
            (std::vector<std::string>{ok(7), stream(7, "transmitter", 69), stream(7, "receiver", 69)}));
  EXPECT_EQ(cap.err(), "trunk-slot: two slots require the same timeslot, remove old.\n old slot 05:trunk\n");
  EXPECT_EQ(slot(5), nullptr);
  EXPECT_TRUE(slot(6)->GetSinks().empty());
  EXPECT_EQ(trunk2.holder(5), slot(7));

  // Destroy frees the time-slot at once.
  EXPECT_EQ(send(cmd(7, "destroy : NULL")), std::vector<std::string>{ok(7)});
  EXPECT_EQ(trunk2.holder(5), nullptr);
  EXPECT_EQ(send(trunk(5, 2, 5)).front(), ok(5));
}

TEST_F(SlotsServiceTest, TheResourcesReportFollowsTheQueryAnswer) {
  const std::string report =
      "pdu signal : query : { boardMajor 0, boardMinor 0, rtp-g729 0, rtp-g723 0, rtp-g711 0, rtp-g711mcc 0, "
      "modem 0, mixer { }, mux TRUE, mcc-data 0, mcc-bri 0, mcc-trans 0, echoBus { }, t38-instances 0, "
      "digital-modems 0, lin16 0, universal 0 } }";
  EXPECT_EQ(send("{ seq 2, pdu command : query : NULL }"),
            (std::vector<std::string>{"{ seq 2, pdu response : success : NULL }", "{ " + report}));
  // The same report unasked (SIGHUP).
  Slots::instance().UpdateHardwareResources();
  EXPECT_EQ(collect(0), std::vector<std::string>{"{ " + report});
}

TEST_F(SlotsServiceTest, TrunkStatusSignalsReachEveryFactoryInListOrder) {
  // Newest first; the static trunk factories end the list, BRI 7..0 then E1 3..0.
  std::vector<std::string> order;
  for (SlotFactory* f = firstFactory; f; f = f->next()) {
    auto* t = dynamic_cast<TrunkFactory*>(f);
    order.push_back(std::string(f->GetName()) + (t ? " " + std::to_string(t->trunk()) : ""));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Probes", "TrunksBRI 7", "TrunksBRI 6", "TrunksBRI 5", "TrunksBRI 4",
                                             "TrunksBRI 3", "TrunksBRI 2", "TrunksBRI 1", "TrunksBRI 0", "Trunks 3",
                                             "Trunks 2", "Trunks 1", "Trunks 0"}));

  LGCP::Signal status;
  ACP::TrunkStatus& s = status.select_trunkStatus();
  s.set_trunk(2);
  s.set_state(ACP::TrunkState::ais);
  HeartBeatCtl::instance()->SendSignal(status);
  HeartBeatCtl::instance()->SendSignal(LGCP::Signal(LGCP::Signal::abort::id, 3));
  ASSERT_EQ(ProbeFactory::instance().heard.size(), 1u);
  EXPECT_EQ(ProbeFactory::instance().heard[0].rfind("trunkStatus : { trunk 2, state ais,", 0), 0u);
  collect(0);
}

TEST_F(SlotsServiceTest, ADepartingControllerTakesEverySlotWithIt) {
  send(trunk(5, 2, 5) + "\n" + trunk(6, 2, 6), 2);
  ProbeFactory::instance().next.asyncRelease = true;
  send(probe(7, 1, 2));
  ProbeFactory::instance().next.asyncRelease = false;
  send(probe(8, 3, 4));
  send(cmd(5, "connect : 6") + "\n" + cmd(5, "connect : 8") + "\n" + cmd(7, "connect : 5"), 3);
  EXPECT_TRUE(send(cmd(7, "destroy : NULL"), 0).empty());
  ProbeFactory::instance().calls.clear();

  clock_->clear_waits();
  leave();
  EXPECT_EQ(board().hal().channel(70).kind, Hal::Channel::Driven);
  EXPECT_EQ(board().hal().channel(8196).kind, Hal::Channel::Driven);
  EXPECT_EQ(trunk2.holder(5), nullptr);
  // Both probes gone, the pending one last, after the pause (the only
  // wait of the loop near a second: the pump waits 10 ms at most).
  const auto& c = ProbeFactory::instance().calls;
  EXPECT_EQ(std::count(c.begin(), c.end(), "07:probe deleted"), 1);
  EXPECT_EQ(std::count(c.begin(), c.end(), "08:probe deleted"), 1);
  EXPECT_EQ(c.back(), "07:probe deleted");
  const auto& w = clock_->waits();
  EXPECT_EQ(std::count_if(w.begin(), w.end(), [](int ms) { return ms > 900 && ms <= 1000; }), 1);
  EXPECT_TRUE(ProbeFactory::instance().slots().empty());
}

size_t openDescriptors() {
  size_t n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

size_t allocatedBytes() {
#ifdef QV_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// Everything the board and the log streams keep of a round is dropped
// before counting, so that only what the slots held is left to compare.
struct Quiet {
  Quiet() : log(std::clog.rdbuf(nullptr)), err(std::cerr.rdbuf(nullptr)) {}
  ~Quiet() {
    std::clog.rdbuf(log);
    std::cerr.rdbuf(err);
  }
  std::streambuf* log;
  std::streambuf* err;
};

TEST_F(SlotsServiceTest, ADepartureWith1024LiveSlotsLeavesNoDescriptorNorByte) {
  Quiet quiet;
  // 156 trunk time-slots (E1 0-3, BRI 1-7) and 868 bus probes, each probe
  // fed by a trunk, each E1 time-slot fed by the next one.
  auto round = [&] {
    std::string batch;
    unsigned n = 0, answers = 0;
    auto add = [&](const std::string& m) {
      batch += m + "\n";
      if (++answers == 64) {
        send(batch, answers);
        batch.clear();
        answers = 0;
      }
    };
    for (unsigned t = 0; t < 4; ++t)
      for (unsigned ts = 0; ts < 32; ++ts) add(trunk(n++, t, ts));
    for (unsigned t = 1; t < 8; ++t)
      for (unsigned ch = 0; ch < 4; ++ch)
        add(cmd(n++, "create : trunk_bri : { trunk " + std::to_string(t) + ", timeslot " + std::to_string(ch) + " }"));
    const unsigned trunks = n;
    for (int k = 0; n < MaxSlots; ++k) add(probe(n++, k, k));
    for (unsigned s = 0; s < 127; ++s) add(cmd(s + 1, "connect : " + std::to_string(s)));
    for (unsigned s = trunks; s < MaxSlots; ++s) add(cmd(s % trunks, "connect : " + std::to_string(s)));
    if (answers) send(batch, answers);
    ASSERT_EQ(Slots::instance().live().size(), size_t(MaxSlots));
    leave();
    board().clearLog();
    std::vector<std::string>().swap(ProbeFactory::instance().calls);
    // The test clock keeps every wait of the loop.
    clock_.reset();
    clock_.reset(new Mux::TestClock);
  };
  auto again = [&] {
    ASSERT_TRUE(peer.connect(port_));
    ASSERT_TRUE(pump([&] { return acceptor_->IsConnected(); }));
    round();
  };
  // Two rounds bring every container of the test and the board to its
  // working size; a third must end where the second did.
  round();
  again();
  const size_t fds = openDescriptors();
  const size_t bytes = allocatedBytes();
  again();
  for (unsigned s = 0; s < MaxSlots; ++s) ASSERT_EQ(slot(s), nullptr);
  for (int ch = SharedChannelsBase; ch < SharedChannelsBase + 868; ++ch)
    ASSERT_EQ(board().hal().channel(uint32_t(ch)).kind, Hal::Channel::Driven) << ch;
  for (int ch = 0; ch < 127; ++ch) ASSERT_EQ(board().hal().channel(uint32_t(ch)).kind, Hal::Channel::Driven) << ch;
  EXPECT_EQ(openDescriptors(), fds);
#ifdef QV_ASAN
  EXPECT_EQ(allocatedBytes(), bytes);
#else
  // Without the sanitizer only the main heap arena is counted, which the
  // board's thread touches now and then: less than a byte per slot.
  EXPECT_LT(std::abs(long(allocatedBytes()) - long(bytes)), long(MaxSlots));
#endif
}

}  // namespace
