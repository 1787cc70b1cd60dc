// Protocol stacks: packet hand-over, room, initialisation, activation,
// deactivation and error reports through nested stacks.
#include "runtime/Protocol.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

struct Layer : Protocol {
  Layer(const std::string& n, Log* l, unsigned char hdr = 0, unsigned room = 0) : tag(n), log(l), header(hdr), room(room) {}
  ~Layer() override { log->push_back(tag + ".deleted"); }

  void message(Packet& p) override {
    log->push_back(tag + ".message");
    if (header) p.push8(header);
    transmit(p);
  }
  void receive(Packet& p) override {
    log->push_back(tag + ".receive");
    if (header) {
      EXPECT_EQ(p.pull8(), header);
    }
    on_message(p);
  }
  void local_prepare_head(Packet& p) override { p.reserve_head(room); }
  Protocol_status_ptr local_initialize() override {
    log->push_back(tag + ".init");
    if (fail_init) return new Protocol_status_error(this, tag + " refused");
    return Protocol::local_initialize();
  }
  void local_activate() override {
    log->push_back(tag + ".local_activate");
    Protocol::local_activate();
  }
  void local_deactivate() override {
    log->push_back(tag + ".local_deactivate");
    Protocol::local_deactivate();
  }
  void on_deactivate(Protocol_status_ptr s) override {
    log->push_back(tag + ".on_deactivate(" + s->message() + ")");
    Protocol::on_deactivate(s);
  }

  std::string tag;
  Log* log;
  unsigned char header;
  unsigned room;
  bool fail_init = false;
};

// The owner at the top of the world: hears what leaves its stack.
struct Owner : ProtocolsList {
  explicit Owner(Log* l) : log(l) {}
  void transmit(Packet& p) override {
    log->push_back("owner.transmit " + p.text());
    last = &p;
  }
  void on_message(Packet& p) override {
    log->push_back("owner.on_message " + p.text());
    last = &p;
  }
  void on_activated(Protocol* p) override { log->push_back("owner.on_activated " + who(p)); }
  void on_deactivated(Protocol* p, Protocol_status_ptr s) override {
    log->push_back("owner.on_deactivated " + who(p) + " " + s->message() + (s->success() ? " ok" : " failed"));
    status = s;
  }
  void on_status(Protocol_status_ptr s) override { log->push_back("owner.on_status " + s->message()); }
  std::string who(Protocol* p) {
    auto* l = dynamic_cast<Layer*>(p);
    return l ? l->tag : "family";
  }
  Log* log;
  Packet* last = nullptr;
  Protocol_status_ptr status;
};

struct Family : ProtocolsFamily {
  explicit Family(Log* l) : log(l) {}
  void on_activated(Protocol* p) override {
    log->push_back("family.on_activated");
    ProtocolsFamily::on_activated(p);
  }
  void on_deactivated(Protocol* p, Protocol_status_ptr s) override {
    log->push_back("family.on_deactivated " + static_cast<Layer*>(p)->tag + " " + s->message());
    ProtocolsFamily::on_deactivated(p, s);
  }
  Log* log;
};

TEST(Protocol, PacketsTravelDownAndUpThroughTheLayers) {
  Log log;
  Owner owner(&log);
  auto* b = static_cast<Layer*>(owner.add_protocol_tail(new Layer("B", &log, 0xB0, 1)));
  auto* t = static_cast<Layer*>(owner.add_protocol_tail(new Layer("T", &log, 0x70, 1)));
  EXPECT_EQ(owner.bottom(), b);
  EXPECT_EQ(owner.top(), t);
  EXPECT_EQ(t->below(), b);
  EXPECT_EQ(b->above(), t);

  Packet p;
  t->prepare_head(p);
  EXPECT_EQ(p._headroom(), 2u);
  p.put8(0x01);
  t->message(p);
  EXPECT_EQ(log, (Log{"T.message", "B.message", "owner.transmit B0 70 01"}));
  EXPECT_EQ(owner.last, &p);

  log.clear();
  b->receive(p);
  EXPECT_EQ(log, (Log{"B.receive", "T.receive", "owner.on_message 01"}));
  EXPECT_EQ(owner.last, &p);

  log.clear();
  b->on_status(new Protocol_status_success(b, "up"));
  EXPECT_EQ(log, (Log{"owner.on_status up"}));
}

TEST(Protocol, ALayerInNoListPassesNothingOn) {
  Log log;
  {
    Layer alone("A", &log);
    Packet p;
    p.reserve_head(0);
    alone.transmit(p);
    alone.on_message(p);
    alone.on_activate();
    alone.on_status(new Protocol_status_success(&alone, "x"));
    alone.on_deactivate(new Protocol_status_error(&alone, "e"));
    alone.deactivate();
    alone.activate();
    EXPECT_EQ(alone.owner(), nullptr);
    EXPECT_EQ(alone.below(), nullptr);
  }
  EXPECT_EQ(log, (Log{"A.on_deactivate(e)", "A.local_deactivate", "A.on_deactivate(success)", "A.local_activate",
                      "A.deleted"}));
}

TEST(Protocol, ActivationStartsAtTheBottomAndReachesTheOuterOwnerOnce) {
  Log log;
  Owner outer(&log);
  auto* below = static_cast<Layer*>(outer.add_protocol_tail(new Layer("X", &log)));
  auto* fam = static_cast<Family*>(outer.add_protocol_tail(new Family(&log)));
  fam->add_protocol_tail(new Layer("B", &log));
  fam->add_protocol_tail(new Layer("M", &log));
  auto* t = static_cast<Layer*>(fam->add_protocol_tail(new Layer("T", &log)));
  (void)below;
  log.clear();
  t->activate();  // asked at the top of the inner stack: starts at its bottom
  EXPECT_EQ(log, (Log{"B.local_activate", "M.local_activate", "T.local_activate", "family.on_activated",
                      "owner.on_activated family"}));

  log.clear();
  fam->activate();  // the family as a layer: the outer stack's bottom first
  EXPECT_EQ(log, (Log{"X.local_activate", "B.local_activate", "M.local_activate", "T.local_activate",
                      "family.on_activated", "owner.on_activated family"}));
}

TEST(Protocol, OrderlyDeactivationGoesDownAndTheOwnerHearsTheBottomOnce) {
  Log log;
  Owner owner(&log);
  owner.add_protocol_tail(new Layer("B", &log));
  owner.add_protocol_tail(new Layer("M", &log));
  auto* t = static_cast<Layer*>(owner.add_protocol_tail(new Layer("T", &log)));
  log.clear();
  t->deactivate();
  EXPECT_EQ(log, (Log{"T.local_deactivate", "T.on_deactivate(success)", "M.local_deactivate",
                      "M.on_deactivate(success)", "B.local_deactivate", "B.on_deactivate(success)",
                      "owner.on_deactivated B success ok"}));
  EXPECT_EQ(owner.status->reporter(), owner.bottom());
}

TEST(Protocol, AnErrorTravelsUpThroughTheFamilyToItsOwnerOnce) {
  Log log;
  Owner outer(&log);
  auto* fam = static_cast<Family*>(outer.add_protocol_tail(new Family(&log)));
  auto* b = static_cast<Layer*>(fam->add_protocol_tail(new Layer("B", &log)));
  fam->add_protocol_tail(new Layer("T", &log));
  log.clear();
  b->on_deactivate(new Protocol_status_error(b, "link down"));
  EXPECT_EQ(log, (Log{"B.on_deactivate(link down)", "T.on_deactivate(link down)", "family.on_deactivated T link down",
                      "owner.on_deactivated family link down failed"}));
  EXPECT_EQ(outer.status->reporter(), b);
  EXPECT_FALSE(outer.status->success());

  // An orderly deactivation of the family reaches the outer owner once.
  log.clear();
  fam->deactivate();
  EXPECT_EQ(log, (Log{"T.local_deactivate", "T.on_deactivate(success)", "B.local_deactivate",
                      "B.on_deactivate(success)", "family.on_deactivated B success",
                      "owner.on_deactivated family success ok"}));
}

TEST(Protocol, InitialisationStopsAtTheFirstFailure) {
  Log log;
  Owner owner(&log);
  owner.add_protocol_tail(new Layer("B", &log));
  auto* m = static_cast<Layer*>(owner.add_protocol_tail(new Layer("M", &log)));
  auto* t = static_cast<Layer*>(owner.add_protocol_tail(new Layer("T", &log)));
  log.clear();
  Protocol_status_ptr ok = t->initialize();
  EXPECT_TRUE(ok->success());
  EXPECT_EQ(ok->message(), "success");
  EXPECT_EQ(log, (Log{"B.init", "M.init", "T.init"}));

  m->fail_init = true;
  log.clear();
  Protocol_status_ptr s = t->initialize();
  EXPECT_FALSE(s->success());
  EXPECT_EQ(s->message(), "M refused");
  EXPECT_EQ(s->reporter(), m);
  EXPECT_EQ(log, (Log{"B.init", "M.init"}));

  ProtocolsFamily empty;
  Protocol_status_ptr e = empty.initialize();
  EXPECT_FALSE(e->success());
  EXPECT_EQ(e->message(), "error");
  Packet p;
  empty.message(p);
  empty.receive(p);
  empty.activate();
  empty.deactivate();
  empty.prepare_head(p);
  EXPECT_TRUE(p.null());
}

TEST(Protocol, PreparedHeadRoomIsTheSumOfTheHeaders) {
  Log log;
  Owner owner(&log);
  owner.add_protocol_tail(new Layer("stream", &log, 0, 0));
  auto* tpkt = static_cast<Layer*>(owner.add_protocol_tail(new Layer("tpkt", &log, 0, 4)));
  Packet p;
  tpkt->prepare_head(p);
  EXPECT_FALSE(p.null());
  EXPECT_EQ(p._headroom(), 4u);
  EXPECT_EQ(p.length(), 0u);

  Owner outer(&log);
  outer.add_protocol_tail(new Layer("X", &log, 0, 2));
  auto* fam = static_cast<Family*>(outer.add_protocol_tail(new Family(&log)));
  fam->add_protocol_tail(new Layer("B", &log, 0, 3));
  fam->add_protocol_tail(new Layer("T", &log, 0, 4));
  auto* top = static_cast<Layer*>(outer.add_protocol_tail(new Layer("U", &log, 0, 1)));
  Packet q;
  top->prepare_head(q);
  EXPECT_EQ(q._headroom(), 10u);
  Packet r;
  top->prepare_tail(r);
  EXPECT_EQ(r._tailroom(), 0u);
  EXPECT_EQ(r._headroom(), 65536u);
}

TEST(Protocol, NamesAndSearch) {
  Protocol_name_str none(nullptr);
  Protocol_name_str none2("(no name)");
  Protocol_name_null null_name;
  Protocol_name_str lapd("LAPD");
  EXPECT_STREQ(none.name(), "(no name)");
  EXPECT_TRUE(none.compare(none2));
  EXPECT_FALSE(none.compare(null_name));
  EXPECT_FALSE(null_name.compare(none));
  EXPECT_TRUE(null_name.compare(Protocol_name_null()));
  EXPECT_FALSE(lapd.compare(none));
  Protocol_name_str copy(lapd);
  EXPECT_TRUE(copy.compare(lapd));

  struct Named : Protocol {
    Protocol_name_str n{"LAPD"};
    const Protocol_name& name() const override { return n; }
    bool compare_name(const Protocol_name& other) const override { return n.compare(other); }
  };
  Log log;
  Owner owner(&log);
  auto* plain = static_cast<Layer*>(owner.add_protocol_tail(new Layer("P", &log)));
  auto* named = owner.add_protocol_tail(new Named);
  EXPECT_EQ(owner.search(lapd), named);
  EXPECT_EQ(owner.search(none), nullptr);
  std::ostringstream os;
  os << *plain << "|" << *named << "|" << lapd;
  EXPECT_EQ(os.str(), "(no name)|LAPD|LAPD");
}

TEST(Protocol, ListsDeleteMembersTopFirstAndMembersMayLeaveFirst) {
  Log log;
  {
    Owner owner(&log);
    owner.add_protocol_tail(new Layer("B", &log));
    auto* m = owner.add_protocol_tail(new Layer("M", &log));
    owner.add_protocol_tail(new Layer("T", &log));
    owner.add_protocol_head(new Layer("Z", &log));
    delete m;
    EXPECT_EQ(owner.protocol_count(), 3u);
    EXPECT_EQ(static_cast<Layer*>(owner.bottom())->tag, "Z");
    EXPECT_EQ(owner.bottom()->above(), owner.top()->below());
  }
  EXPECT_EQ(log, (Log{"M.deleted", "T.deleted", "B.deleted", "Z.deleted"}));
}

TEST(Protocol, StatusObjectsLiveAsLongAsAHolder) {
  static int alive;
  alive = 0;
  struct Counted : Protocol_status_error {
    Counted() : Protocol_status_error(nullptr, "c") { ++alive; }
    ~Counted() override { --alive; }
  };
  {
    Protocol_status_ptr a = new Counted;
    EXPECT_EQ(alive, 1);
    {
      Protocol_status_ptr b = a;
      EXPECT_EQ(a.use_count(), 2u);
      a = nullptr;
      EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
  }
  Protocol_initialize_error ie(nullptr);
  std::ostringstream os;
  ie.out(os);
  EXPECT_EQ(os.str(), "error");
}

}  // namespace
