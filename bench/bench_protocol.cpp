// Cost of coding the control messages the daemon handles most: a bare
// command of a few octets, a create, an ioctl carrying ten HDLC packages and
// a resources report. Each benchmark reports nanoseconds per message and
// the heap allocations per message, counted by the replaced global
// operator new of this program.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <new>
#include <vector>

#include "asn1/ASN1.h"
#include "protocol/ACP/ACP.h"
#include "protocol/LGCP/LGCP.h"
#include "protocol/TERM/TERM.h"

namespace {
std::atomic<unsigned long> allocations{0};

// Kept out of line: the compiler must not pair the free with the operator
// new it can see.
__attribute__((noinline)) void release(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }

namespace {

LGCP::Message ping() {
  LGCP::Message m;
  m.set_seq(1);
  m.set_pdu().select_command().select_ping();
  return m;
}

LGCP::Message createRtp() {
  LGCP::Message m;
  m.set_seq(7);
  m.set_slot(10);
  LGCP::CreateRtpParams& c = m.set_pdu().select_command().select_create().select_rtp();
  c.set_txPayload(TERM::Payload::ptG711_Alaw);
  c.set_rxPayload(TERM::Payload::ptG711_Alaw);
  TERM::RtpParams& p = c.ref_codecRTP();
  p.set_payload(TERM::Payload::ptG711_Alaw);
  p.ref_dhost().set_iaddr("10.1.2.3");
  p.ref_dhost().set_port(40000);
  p.set_pfactor(2);
  p.set_vad(false);
  p.set_ttl(64);
  p.set_qos_dscp(TERM::IpQoSDSCP::ef);
  return m;
}

LGCP::Message ioctlHdlc() {
  LGCP::Message m;
  m.set_seq(3);
  m.set_slot(12);
  ASN1::SEQUENCE_OF<LGCP::HdlcPackage>& list = m.set_pdu().select_command().select_ioctl().select_hdlcPackages();
  LGCP::HdlcPackage p;
  p.set_body(std::vector<char>(32, '\x7e'));
  for (int k = 0; k < 10; ++k) list.push_back(p);
  return m;
}

LGCP::Message queryResources() {
  LGCP::Message m;
  LGCP::Resources& r = m.set_pdu().select_signal().select_query();
  r.set_boardMajor(3);
  r.set_boardMinor(1);
  r.set_rtp_g711(240);
  r.set_mux(true);
  LGCP::MixerResources_subtype unit;
  for (int k = 0; k < 4; ++k) {
    unit.set_unit(k);
    unit.set_tdm_inputs(32);
    r.ref_mixer().push_back(unit);
  }
  for (int k = 0; k < 4; ++k) r.ref_echoBus().push_back(ASN1::INTEGER(k, &ASN1::INTEGER::theInfo));
  return m;
}

LGCP::Message sample(int which) {
  switch (which) {
    case 0:
      return ping();
    case 1:
      return createRtp();
    case 2:
      return ioctlHdlc();
    default:
      return queryResources();
  }
}

ASN1::CoderEnv perEnv() {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return env;
}

char const* const names[] = {"ping", "create-rtp", "ioctl-10-hdlc", "query-resources"};

void BM_Encode(benchmark::State& state) {
  LGCP::Message m = sample(static_cast<int>(state.range(0)));
  ASN1::CoderEnv env = perEnv();
  std::vector<char> out;
  out.reserve(1024);
  unsigned long before = allocations.load();
  for (auto _ : state) {
    out.clear();
    if (!ASN1::encode(m, &env, std::back_inserter(out))) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(names[state.range(0)]);
  state.counters["octets"] = static_cast<double>(out.size());
  state.counters["allocs/msg"] =
      benchmark::Counter(static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}

void BM_Decode(benchmark::State& state) {
  LGCP::Message m = sample(static_cast<int>(state.range(0)));
  ASN1::CoderEnv env = perEnv();
  std::vector<char> in;
  ASN1::encode(m, &env, std::back_inserter(in));
  unsigned long before = allocations.load();
  for (auto _ : state) {
    LGCP::Message back;
    if (!ASN1::decode(in.data(), in.data() + in.size(), &env, back, true)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(back);
  }
  state.SetLabel(names[state.range(0)]);
  state.counters["octets"] = static_cast<double>(in.size());
  state.counters["allocs/msg"] =
      benchmark::Counter(static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}

// The four messages in turn, as a loaded link sees them: time and heap
// allocations per message.
void reportMix(benchmark::State& state, std::size_t messages, unsigned long allocs) {
  double n = static_cast<double>(messages);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * messages));
  state.counters["ns/msg"] =
      benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["allocs/msg"] = benchmark::Counter(static_cast<double>(allocs) / n, benchmark::Counter::kAvgIterations);
}

void BM_EncodeMix(benchmark::State& state) {
  std::vector<LGCP::Message> messages;
  for (int k = 0; k < 4; ++k) messages.push_back(sample(k));
  ASN1::CoderEnv env = perEnv();
  std::vector<char> out;
  out.reserve(1024);
  unsigned long before = allocations.load();
  for (auto _ : state) {
    for (LGCP::Message const& m : messages) {
      out.clear();
      if (!ASN1::encode(m, &env, std::back_inserter(out))) state.SkipWithError("encode failed");
      benchmark::DoNotOptimize(out.data());
    }
  }
  reportMix(state, messages.size(), allocations.load() - before);
}

void BM_DecodeMix(benchmark::State& state) {
  ASN1::CoderEnv env = perEnv();
  std::vector<std::vector<char> > wires(4);
  for (int k = 0; k < 4; ++k) ASN1::encode(sample(k), &env, std::back_inserter(wires[k]));
  unsigned long before = allocations.load();
  for (auto _ : state) {
    for (std::vector<char> const& in : wires) {
      LGCP::Message back;
      if (!ASN1::decode(in.data(), in.data() + in.size(), &env, back, true)) state.SkipWithError("decode failed");
      benchmark::DoNotOptimize(back);
    }
  }
  reportMix(state, wires.size(), allocations.load() - before);
}

}  // namespace

BENCHMARK(BM_Encode)->DenseRange(0, 3);
BENCHMARK(BM_Decode)->DenseRange(0, 3);
BENCHMARK(BM_EncodeMix);
BENCHMARK(BM_DecodeMix);
BENCHMARK_MAIN();
