// Cost of one message through the aligned PER encoder and decoder: every
// controller command and every answer takes this road once. Reported per
// message: time, octets and heap allocations (counted by the operator new
// of this binary).
//
// The messages are the entries of samples(): to measure another message
// (the generated protocol types when they exist), add an entry that builds
// it. Each entry gets an encode and a decode benchmark, and the mix
// benchmarks run all entries in turn.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "asn1/ASN1.h"
#include "asn1/DemoTypes.h"
#include "asn1/PerTypes.h"

namespace {
std::atomic<unsigned long> allocations{0};
}

// Kept out of line: the compiler must not pair the malloc and free it would
// see through them with the new and delete of the callers.
__attribute__((noinline)) void* operator new(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct Sample {
  std::string name;
  std::function<ASN1::AbstractData*()> make;  // a new value, owned by the caller
};

std::vector<Sample> samples() {
  return {
      {"destroy",
       [] {
         auto* m = new Demo::Message;
         m->set_seq(1);
         m->set_pdu().select_destroy();
         return m;
       }},
      {"create-small",
       [] {
         auto* m = new Demo::Message;
         m->set_seq(1000);
         Demo::Params& p = m->set_pdu().select_create();
         p.set_slot(17);
         p.set_mode(Demo::Mode::listen);
         return m;
       }},
      {"create-full",
       [] {
         auto* m = new Demo::Message;
         m->set_seq(123456);
         Demo::Params& p = m->set_pdu().select_create();
         p.set_slot(1023);
         p.set_name("trunk-1/timeslot-16");
         p.set_mode(Demo::Mode::active);
         Demo::Item item;
         for (unsigned i = 0; i < 8; ++i) {
           item.set_id(i * 100);
           if (i % 2 == 0)
             item.set_label("channel");
           else
             item.omit_label();
           p.set_items().push_back(item);
         }
         p.set_gain_level(static_cast<unsigned>(-6));
         p.set_flag(true);
         return m;
       }},
      {"query-state",
       [] {
         auto* m = new Demo::Message;
         m->set_pdu().select_query_state(Demo::Mode::speak);
         return m;
       }},
      {"batch-32",
       [] {
         auto* b = new Demo::Batch;
         Demo::Item item;
         for (unsigned i = 0; i < 32; ++i) {
           item.set_id(i);
           b->ref_items().push_back(item);
         }
         return b;
       }},
  };
}

ASN1::CoderEnv perEnv() {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  return env;
}

void report(benchmark::State& state, unsigned long allocs, std::size_t octets, std::size_t messages) {
  double n = static_cast<double>(state.iterations()) * static_cast<double>(messages);
  state.counters["allocs/msg"] = benchmark::Counter(static_cast<double>(allocs) / n);
  state.counters["octets/msg"] = benchmark::Counter(static_cast<double>(octets) / static_cast<double>(messages));
  state.SetItemsProcessed(static_cast<int64_t>(n));
}

void encodeAll(benchmark::State& state, std::vector<Sample> const& set) {
  std::vector<std::unique_ptr<ASN1::AbstractData> > values;
  for (auto const& s : set) values.emplace_back(s.make());
  ASN1::CoderEnv env = perEnv();
  std::size_t octets = 0;
  unsigned long before = allocations.load();
  for (auto _ : state) {
    octets = 0;
    for (auto const& v : values) {
      // As the server does: a fresh vector with 200 octets reserved.
      std::vector<char> out;
      out.reserve(200);
      if (!ASN1::encode(*v, &env, std::back_inserter(out))) state.SkipWithError("encode failed");
      octets += out.size();
      benchmark::DoNotOptimize(out.data());
    }
  }
  report(state, allocations.load() - before, octets, values.size());
}

void decodeAll(benchmark::State& state, std::vector<Sample> const& set) {
  std::vector<std::vector<char> > wires;
  std::vector<void const*> infos;
  ASN1::CoderEnv env = perEnv();
  std::size_t octets = 0;
  for (auto const& s : set) {
    std::unique_ptr<ASN1::AbstractData> v(s.make());
    wires.emplace_back();
    ASN1::encode(*v, &env, std::back_inserter(wires.back()));
    octets += wires.back().size();
    infos.push_back(v->info());
  }
  unsigned long before = allocations.load();
  for (auto _ : state) {
    for (std::size_t i = 0; i < wires.size(); ++i) {
      // As the server does: a freshly constructed message per decode.
      std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(infos[i]));
      if (!ASN1::decode(wires[i].data(), wires[i].data() + wires[i].size(), &env, *v, true))
        state.SkipWithError("decode failed");
      benchmark::DoNotOptimize(v.get());
    }
  }
  report(state, allocations.load() - before, octets, wires.size());
}

int registerAll() {
  std::vector<Sample> all = samples();
  for (auto const& s : all) {
    std::vector<Sample> one{s};
    benchmark::RegisterBenchmark(("PER_Encode/" + s.name).c_str(), [one](benchmark::State& st) { encodeAll(st, one); });
    benchmark::RegisterBenchmark(("PER_Decode/" + s.name).c_str(), [one](benchmark::State& st) { decodeAll(st, one); });
  }
  benchmark::RegisterBenchmark("PER_Encode/mix", [all](benchmark::State& st) { encodeAll(st, all); });
  benchmark::RegisterBenchmark("PER_Decode/mix", [all](benchmark::State& st) { decodeAll(st, all); });
  return 0;
}

int registered = registerAll();

}  // namespace

BENCHMARK_MAIN();
