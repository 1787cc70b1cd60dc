// The conference mixer's ports in this process, on the stand-in's mixer
// units: units found by a resources query, routes and gains read back from
// the stand-in's model, the switch channels of the ports, a unit that goes
// away, and the ports' DSP functions.
#include "SlotsTestUtil.h"
#include "board/Dsp.h"
#include "board/Dtmf.h"
#include "board/Hal.h"
#include "board/Mixer.h"
#include "hardware/DSProcReceiver.h"
#include "hardware/TonecReceiver.h"
#include "slots/Mixer.h"

using namespace slots_test;
using Board::Hal;
using Routes = std::map<int32_t, int32_t>;

namespace {

std::string mixerOut(unsigned slot, int unit, const std::string& channel, const std::string& inputs) {
  return cmd(slot, "create : mixerOut : { unit " + std::to_string(unit) + ", channel " + channel + ", inputs { " +
                       inputs + " } }");
}

std::string mixerIn(unsigned slot, int unit, const std::string& channel, const std::string& more = "") {
  return cmd(slot, "create : mixerIn : { unit " + std::to_string(unit) + ", channel " + channel + more + " }");
}

std::string ioctl(unsigned slot, const std::string& what) { return cmd(slot, "ioctl : " + what); }

class MixerTest : public SlotsTest {
 protected:
  static void SetUpTestSuite() {
    SlotsTest::SetUpTestSuite();
    Mixer::MixerFactory::instance();
  }

  void SetUp() override {
    SlotsTest::SetUp();
    // The stand-in's DSPs keep what earlier cases set on the time-slots.
    dtmf().reset();
    dsp().reset();
    mixer().setUnit(3, 32, 8);
    mixer().setUnit(7, 30, 10);
  }

  void TearDown() override {
    SlotsTest::TearDown();
    for (const auto& u : mixer().units()) mixer().removeUnit(u.id);
    // Every unit the factory knew goes with the next refresh.
    Mixer::MixerFactory::instance().RefreshResources();
  }

  Board::Mixer& mixer() { return static_cast<Board::Mixer&>(*board().model("mixer")); }
  Board::Dsp& dsp() { return static_cast<Board::Dsp&>(*board().model("dsp")); }
  Board::Dtmf& dtmf() { return static_cast<Board::Dtmf&>(*board().model("dtmf")); }

  // The mixer requests since the log was cleared, as the stand-in decodes
  // them, without the time and session.
  std::vector<std::string> requests() {
    std::vector<std::string> out;
    for (const Board::LogEntry& e : board().logEntries({Board::Mixer::kClear, Board::Mixer::kAdd,
                                                          Board::Mixer::kRemove, Board::Mixer::kTdm}))
      out.push_back(e.model->describe(e) + " = " + std::to_string(e.result));
    board().clearLog();
    return out;
  }

  // The switch channel of channel n of a unit.
  uint32_t channelOf(int32_t unit, int32_t n) {
    for (const auto& u : mixer().units())
      if (u.id == unit) return u.base + uint32_t(n);
    return 0;
  }

  std::string query() {
    std::vector<std::string> got = send("{ seq 9, pdu command : query : NULL }");
    if (got.size() < 2) {
      std::vector<std::string> more = collect(0);
      got.insert(got.end(), more.begin(), more.end());
    }
    for (const std::string& m : got)
      if (m.find("mcc-data") != std::string::npos) return m;
    return "";
  }
};

TEST_F(MixerTest, UnitsFromTheResourcesQueryAndPortsWithTheirRoutes) {
  // No unit is known before the controller asks for the resources.
  EXPECT_EQ(send(mixerIn(1, 3, "tdm : 0")), std::vector<std::string>{err(1, "insufficientResources")});

  Capture cap;
  // Every row carries the smallest counts of all units.
  const std::string res = query();
  EXPECT_NE(res.find("mixer { { unit 3, tdm_inputs 30, tdm_outputs 30, mixer_inputs 8, dpu_per_mixer 770, "
                     "dpu_per_ec 17, dpu_per_lms 24 }, { unit 7, tdm_inputs 30, tdm_outputs 30, mixer_inputs 8, "
                     "dpu_per_mixer 770, dpu_per_ec 17, dpu_per_lms 24 } }"),
            std::string::npos)
      << res << "|";
  // A unit seen for the first time has its outputs cleared.
  EXPECT_EQ(cap.log(), "mixer [3]: clear all inputs\nmixer [7]: clear all inputs\n");
  std::vector<std::string> reqs = requests();
  ASSERT_EQ(reqs.size(), 62u);
  EXPECT_EQ(reqs[0], "clear {3,0,0} = 0");
  EXPECT_EQ(reqs[31], "clear {3,0,31} = 0");
  EXPECT_EQ(reqs[61], "clear {7,0,29} = 0");
  // The driver version was read, and no device stays open after a query.
  EXPECT_TRUE(Mixer::MixerFactory::instance().versionKnown());
  for (const auto& s : board().sessions()) EXPECT_TRUE(s.second != "/dev/voice" && s.second != "/dev/mixer");

  // An output summing inputs 1 and 2 with their gains, in list order after
  // clearing the output.
  EXPECT_EQ(send(mixerOut(2, 3, "tdm : 4", "{ channel tdm : 1, gain 1000 }, { channel tdm : 2, gain 2000 }")),
            std::vector<std::string>{ok(2)});
  EXPECT_EQ(requests(), (std::vector<std::string>{"tdm {3,0,4} = " + std::to_string(channelOf(3, 4)),
                                                  "clear {3,0,4} = 0",
                                                  "add rx={3,0,4} tx={3,0,1} gain=1000 = 0",
                                                  "add rx={3,0,4} tx={3,0,2} gain=2000 = 0"}));
  EXPECT_EQ(mixer().routes(3, 4), (Routes{{1, 1000}, {2, 2000}}));
  // With no input, the output carries its own input channel at full gain.
  EXPECT_EQ(send(mixerOut(3, 3, "tdm : 5", "")), std::vector<std::string>{ok(3)});
  EXPECT_EQ(mixer().routes(3, 5), (Routes{{5, 32767}}));

  // An input summed into output 5; the channel range is that of the
  // smallest unit.
  EXPECT_EQ(send(mixerIn(4, 3, "tdm : 29", ", summator tdm : 5")), std::vector<std::string>{ok(4)});
  EXPECT_EQ(mixer().routes(3, 5), (Routes{{5, 32767}, {29, 32767}}));
  EXPECT_EQ(send(mixerIn(5, 3, "tdm : 30")), std::vector<std::string>{err(5, "insufficientResources")});
  EXPECT_EQ(send(mixerIn(5, 3, "rtp : 1")), std::vector<std::string>{err(5, "insufficientResources")});
  EXPECT_EQ(send(mixerIn(5, 4, "tdm : 1")), std::vector<std::string>{err(5, "insufficientResources")});

  // Both ports on the switch: a trunk feeds the input, the output feeds
  // the trunk.
  send(trunk(10, 1, 7));
  EXPECT_EQ(send(cmd(10, "connect : 4")),
            (std::vector<std::string>{stream(4, "receiver", int(channelOf(3, 29))), ok(10)}));
  EXPECT_EQ(board().hal().channel(channelOf(3, 29)).source, 39u);
  EXPECT_EQ(send(cmd(2, "connect : 10")),
            (std::vector<std::string>{stream(2, "transmitter", int(channelOf(3, 4))), ok(2)}));
  EXPECT_EQ(board().hal().channel(39).source, channelOf(3, 4));
  // An input is no source and an output no sink.
  EXPECT_EQ(send(cmd(4, "connect : 2")), std::vector<std::string>{err(4, "connectFail")});

  // Destroyed: each port takes back its own route and frees its channel.
  requests();
  EXPECT_EQ(send(cmd(4, "destroy : NULL")), std::vector<std::string>{ok(4)});
  EXPECT_EQ(board().hal().channel(channelOf(3, 29)).kind, Hal::Channel::Disabled);
  EXPECT_EQ(requests(), std::vector<std::string>{"remove rx={3,0,5} tx={3,0,29} = 0"});
  EXPECT_EQ(mixer().routes(3, 5), (Routes{{5, 32767}}));
  EXPECT_EQ(send(cmd(2, "destroy : NULL")), std::vector<std::string>{ok(2)});
  EXPECT_EQ(requests(), std::vector<std::string>{"clear {3,0,4} = 0"});
  EXPECT_TRUE(mixer().routes(3, 4).empty());
  leave();
}

TEST_F(MixerTest, AFailedOutputCreateLeavesNoRouteBehind) {
  query();
  send(mixerOut(1, 7, "tdm : 6", "{ channel tdm : 1, gain 100 }"));
  requests();

  // The second input cannot be translated: the first one's route is taken
  // back with the output's.
  Capture cap;
  EXPECT_EQ(send(mixerOut(2, 7, "tdm : 9", "{ channel tdm : 1, gain 1000 }, { channel rtp : 2, gain 5 }")),
            std::vector<std::string>{err(2, "insufficientResources")});
  EXPECT_EQ(cap.err(), "mixer [7]: SetTX error: translation fail [2]\n");
  EXPECT_TRUE(mixer().routes(7, 9).empty());
  cap.clear();

  // A channel out of range, or one the driver gives no switch channel,
  // programs nothing: output 6 of the live port keeps its routes.
  EXPECT_EQ(send(mixerOut(2, 7, "tdm : 30", "")), std::vector<std::string>{err(2, "insufficientResources")});
  board().failRequest(Board::Mixer::kTdm, EIO, true);
  EXPECT_EQ(send(mixerOut(2, 7, "tdm : 6", "")), std::vector<std::string>{err(2, "insufficientResources")});
  EXPECT_EQ(cap.err(), "mixer [7]: MIX_TDM dev_no=7 type=0 number=6 fail : Input/output error\n");
  EXPECT_EQ(mixer().routes(7, 6), (Routes{{1, 100}}));
  const std::vector<std::string> reqs = requests();
  EXPECT_EQ(reqs, (std::vector<std::string>{"tdm {7,0,9} = " + std::to_string(channelOf(7, 9)), "clear {7,0,9} = 0",
                                            "add rx={7,0,9} tx={7,0,1} gain=1000 = 0", "clear {7,0,9} = 0",
                                            "tdm {7,0,6} = -1"}));
  leave();
}

TEST_F(MixerTest, AVanishedUnitAbortsItsPorts) {
  query();
  send(mixerIn(1, 7, "tdm : 0", ", summator tdm : 1"));
  send(mixerOut(2, 7, "tdm : 1", ""));
  send(mixerOut(3, 3, "tdm : 1", ""));

  mixer().removeUnit(7);
  const std::vector<std::string> got = send("{ seq 9, pdu command : query : NULL }");
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1], "{ slot 1, pdu signal : abort : 0 }");
  EXPECT_EQ(got[2], "{ slot 2, pdu signal : abort : 0 }");
  EXPECT_NE(got[3].find("mixer { { unit 3, tdm_inputs 32, tdm_outputs 32, mixer_inputs 8,"), std::string::npos)
      << got[3];
  EXPECT_EQ(send(mixerIn(4, 7, "tdm : 2")), std::vector<std::string>{err(4, "insufficientResources")});

  // The ports stay until the controller destroys them; the unit goes with
  // the last.
  EXPECT_EQ(send(cmd(1, "destroy : NULL")), std::vector<std::string>{ok(1)});
  EXPECT_EQ(send(cmd(2, "destroy : NULL")), std::vector<std::string>{ok(2)});

  // Back again, it is a new unit, cleared.
  mixer().setUnit(7, 30, 10);
  Capture cap;
  query();
  EXPECT_EQ(cap.log(), "mixer [7]: clear all inputs\n");
  EXPECT_EQ(send(mixerIn(4, 7, "tdm : 2")), std::vector<std::string>{ok(4)});
  leave();
}

TEST_F(MixerTest, PortFunctionsAndEvents) {
  query();
  send(mixerIn(1, 3, "tdm : 2"));
  send(mixerOut(2, 3, "tdm : 3", ""));
  const uint32_t in = channelOf(3, 2), out = channelOf(3, 3);

  // The mixer has no SELCAL delay: it is set to zero and the ioctl succeeds.
  Capture cap;
  EXPECT_EQ(send(ioctl(1, "delays : { rx 8, tx 16, selcal 4 }")), std::vector<std::string>{ok(1)});
  EXPECT_EQ(cap.err(), "mixer [3]: error: selcal delay isn't supported for mixer!!! Set to zero.\n");
  EXPECT_EQ(dsp().slot(in).config[32], std::string("\x08\0\0\0\x10\0\0\0\0\0\0\0", 12));

  // Each kind serves its own table.
  EXPECT_EQ(send(ioctl(1, "dtmf-enable : TRUE")), std::vector<std::string>{ok(1)});
  EXPECT_EQ(send(ioctl(2, "dtmf-enable : TRUE")), std::vector<std::string>{err(2, "unsupported")});
  EXPECT_EQ(send(ioctl(1, "tone-gen-enable : { freq 1000, amp 500 }")), std::vector<std::string>{err(1, "unsupported")});
  EXPECT_EQ(send(ioctl(2, "tone-gen-enable : { freq 1000, amp 500 }")), std::vector<std::string>{ok(2)});
  EXPECT_EQ(send(cmd(2, "activate : empty : NULL")), std::vector<std::string>{err(2, "unsupported")});

  // An input reports what its detectors hear; an output no detector event.
  dtmf().inject(in, 5, 1234);
  dtmf().inject(out, 6, 1234);
  dsp().inject(out, Board::Dsp::kVAD, 1, 2, 0);
  EXPECT_EQ(collect(0), std::vector<std::string>{
                            "{ slot 1, pdu signal : tonec : { timestamp 1234, event dtmf : 5 } }"});
  leave();
}

TEST_F(MixerTest, APortGoingLeavesTheToneTheOtherPortOfItsChannelSetSince) {
  query();
  // The output and the input of one channel share its time-slot.
  send(mixerOut(30, 3, "tdm : 3", ""));
  send(mixerIn(33, 3, "tdm : 3", ", ecm { ec TRUE, es FALSE }"));
  const uint32_t ts = channelOf(3, 3);
  const std::string playout =
      "translateDTMF : { digits { { freq1 941, freq2 1477 }, { freq1 697, freq2 1209 } }, "
      "toneDuration 2000, pauseDuration 100 }";
  auto settings = [&] {
    std::vector<std::string> out;
    for (const Board::Dtmf::Tone& t : dtmf().tones(ts))
      out.push_back(std::to_string(t.freq1) + " " + std::to_string(t.freq2) + " " + std::to_string(t.amp1) +
                    " " + std::to_string(t.amp2));
    return out;
  };

  // The input's first digit is still sounding when the output sets its
  // tone; the input goes, the tone stays, and goes with the output.
  EXPECT_EQ(send(ioctl(33, playout)), std::vector<std::string>{ok(33)});
  EXPECT_EQ(send(ioctl(30, "tone-gen-enable : { freq 1000, amp 2000 }")), std::vector<std::string>{ok(30)});
  EXPECT_EQ(send(cmd(33, "destroy : NULL")), std::vector<std::string>{ok(33)});
  EXPECT_EQ(settings(), (std::vector<std::string>{"941 1477 16384 16384", "1000 0 2000 0"}));
  EXPECT_FALSE(dtmf().slot(ts).lms);
  EXPECT_EQ(send(cmd(30, "destroy : NULL")), std::vector<std::string>{ok(30)});
  EXPECT_EQ(settings(), (std::vector<std::string>{"941 1477 16384 16384", "1000 0 2000 0", "0 0 0 0"}));

  // A port's own digit is still brought to silence and off as it goes.
  dtmf().reset();
  send(mixerIn(33, 3, "tdm : 3"));
  EXPECT_EQ(send(ioctl(33, playout)), std::vector<std::string>{ok(33)});
  EXPECT_EQ(send(cmd(33, "destroy : NULL")), std::vector<std::string>{ok(33)});
  EXPECT_EQ(settings(), (std::vector<std::string>{"941 1477 16384 16384", "1000 1000 0 0", "0 0 0 0"}));
  leave();
}

TEST_F(MixerTest, AnInputHearsItsDetectorsWhateverTheOtherPortOfItsChannelDoes) {
  query();
  // The output is created first, so it comes first on the shared time-slot.
  send(mixerOut(40, 3, "tdm : 6", ""));
  send(mixerIn(41, 3, "tdm : 6"));
  const uint32_t ts = channelOf(3, 6);
  EXPECT_EQ(send(ioctl(40, "iva-enable : TRUE")), std::vector<std::string>{ok(40)});
  EXPECT_EQ(send(ioctl(41, "iva-enable : TRUE")), std::vector<std::string>{ok(41)});
  EXPECT_EQ(send(ioctl(41, "dtmf-enable : TRUE")), std::vector<std::string>{ok(41)});
  dtmf().inject(ts, 5, 77);
  EXPECT_EQ(collect(0), std::vector<std::string>{
                             "{ slot 41, pdu signal : tonec : { timestamp 77, event dtmf : 5 } }"});

  // The output goes; the input's detectors stay on, and it still hears them.
  EXPECT_EQ(send(cmd(40, "destroy : NULL")), std::vector<std::string>{ok(40)});
  EXPECT_TRUE(dtmf().slot(ts).iva);
  EXPECT_TRUE(dtmf().slot(ts).detector);
  dtmf().inject(ts, 0x0300, 78);
  EXPECT_EQ(collect(0), std::vector<std::string>{
                             "{ slot 41, pdu signal : tonec : { timestamp 78, event iva : code : 3 } }"});
  EXPECT_EQ(send(cmd(41, "destroy : NULL")), std::vector<std::string>{ok(41)});
  EXPECT_FALSE(dtmf().slot(ts).iva);
  EXPECT_FALSE(dtmf().slot(ts).detector);
  leave();
}

TEST_F(MixerTest, EachPortOfAChannelHearsTheVoiceProcessingItAskedForAndKeepsItWhenTheOtherGoes) {
  query();
  // The output comes first on the channel's time-slot and asks for nothing.
  send(mixerOut(30, 3, "tdm : 3", ""));
  send(mixerIn(33, 3, "tdm : 3"));
  send(trunk(10, 1, 7));  // switch channel 39
  send(cmd(10, "connect : 33"));
  const uint32_t ts = channelOf(3, 3);
  for (const char* what : {"vad-params : v2 : { voice-th-msec 100, silence-th-msec 200, e-th-dB 10 }",
                           "vad-enable : TRUE", "sd-params : NULL", "sd-enable : TRUE",
                           "tone-filter : { freq 2100, enable TRUE, duration-th-msec 100, det-level-dB -30 }"})
    EXPECT_EQ(send(ioctl(33, what)), std::vector<std::string>{ok(33)}) << what;
  auto heard = [&] {
    dsp().inject(ts, Board::Dsp::kVAD, 1, 1, 0);
    dsp().inject(ts, Board::Dsp::kSD, 1);
    dsp().inject(ts, Board::Dsp::kTone, 2100, 1);
    return collect(0);
  };
  const std::vector<std::string> input = {
      "{ slot 33, pdu signal : vad : { vad-rx TRUE } }", "{ slot 33, pdu signal : sd : { sd-rx TRUE } }",
      "{ slot 33, pdu signal : tonec : { timestamp 0, event tone-presence : { freq 2100, presence TRUE } } }"};
  EXPECT_EQ(heard(), input);

  // The output's VAD is the input's too, under its new id.
  EXPECT_EQ(send(ioctl(30, "vad-enable : TRUE")), std::vector<std::string>{ok(30)});
  EXPECT_EQ(heard(), input);

  // The output goes and switches off nothing the input still has on: its
  // features, nor the path it hears the trunk on.
  auto disables = [&] {
    std::vector<std::string> out;
    for (const Board::LogEntry& e : board().logEntries({Board::Dsp::kDisable})) out.push_back(e.model->describe(e));
    board().clearLog();
    return out;
  };
  board().clearLog();
  EXPECT_EQ(send(cmd(30, "destroy : NULL")), std::vector<std::string>{ok(30)});
  EXPECT_EQ(disables(), std::vector<std::string>{});
  EXPECT_EQ(dsp().slot(ts).enabled, 0x3u);
  EXPECT_EQ(board().hal().channel(ts).kind, Hal::Channel::Listening);
  EXPECT_EQ(board().hal().channel(ts).source, 39u);
  EXPECT_EQ(heard(), input);
  EXPECT_EQ(send(cmd(33, "destroy : NULL")), std::vector<std::string>{ok(33)});
  const std::string off = "disable ts=" + std::to_string(ts) + " id=0 mask=0x";
  EXPECT_EQ(disables(), (std::vector<std::string>{off + "1", off + "100"}));
  EXPECT_EQ(board().hal().channel(ts).kind, Hal::Channel::Disabled);
  leave();
}

}  // namespace
