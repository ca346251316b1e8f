// Routing of the protocol-stack framework: direction of data, activation, status reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/ProtocolsFamily.h"
#include "foundation/Packet.h"

namespace {

using Trace = std::vector<std::string>;
Trace trace;

// A layer that records each call it receives and passes it on.
class Layer : public Protocol {
 public:
  explicit Layer(std::string n, bool init_ok = true) : n_(std::move(n)), init_ok_(init_ok) {}
  void message(Packet& p) override { log("message"), transmit(p); }
  void receive(Packet& p) override { log("receive"), on_message(p); }
  void local_activate() override { log("local_activate"), on_activate(); }
  void on_deactivate(Protocol_status s) override { log("on_deactivate"), Protocol::on_deactivate(s); }
  void local_deactivate() override { log("local_deactivate"), Protocol::local_deactivate(); }
  Protocol_status local_initialize() override {
    log("init");
    if (init_ok_) return new Protocol_status_success(this, "ok");
    return new Protocol_status_error(this, n_ + " failed");
  }
  void local_prepare_head(Packet& p) override { p.reserve_head(2); }
  void fail(const std::string& text) { on_deactivate(new Protocol_status_error(this, text)); }

 private:
  void log(const char* what) { trace.push_back(n_ + "." + what); }
  std::string n_;
  bool init_ok_;
};

class Owner : public ProtocolsFamily {
 public:
  void transmit(Packet&) override { trace.push_back("owner.transmit"); }
  void on_message(Packet&) override { trace.push_back("owner.on_message"); }
  void on_activated(Protocol* p) override {
    trace.push_back("owner.on_activated");
    activated_by = p;
  }
  void on_deactivated(Protocol* p, Protocol_status s) override {
    trace.push_back("owner.on_deactivated");
    reporter = p;
    status = s;
  }
  Protocol* activated_by = nullptr;
  Protocol* reporter = nullptr;
  Protocol_status status;
};

class StackTest : public ::testing::Test {
 protected:
  void SetUp() override { trace.clear(); }
  // A new layer on top of the owner's stack (the owner deletes it).
  Layer* push(const char* name, bool init_ok = true) {
    Layer* layer = new Layer(name, init_ok);
    owner.add_protocol_tail(layer);
    return layer;
  }
  // The calls that f makes, in order.
  template <class F>
  Trace calls(F f) {
    trace.clear();
    f();
    return trace;
  }
  Owner owner;
};

TEST_F(StackTest, PacketsRunThroughTheLayersInOrderAndLeaveTowardsTheOwner) {
  Layer* a = push("A");
  Layer* b = push("B");
  ASSERT_EQ(owner.bottom(), a);
  ASSERT_EQ(owner.top(), b);
  EXPECT_EQ(a->owner, &owner);
  Packet p;
  p.reserve_head(0);
  EXPECT_EQ(calls([&] { owner.ProtocolsFamily::receive(p); }), (Trace{"A.receive", "B.receive", "owner.on_message"}));
  EXPECT_EQ(calls([&] { owner.ProtocolsFamily::message(p); }), (Trace{"B.message", "A.message", "owner.transmit"}));
  // Every layer reserves its head room.
  Packet q;
  owner.prepare_head(q);
  EXPECT_FALSE(q.is_null());
  EXPECT_EQ(q.headroom(), 4u);
  EXPECT_EQ(q.length(), 0u);
  // A destroyed layer leaves its stack.
  delete a;
  EXPECT_EQ(owner.bottom(), b);
  EXPECT_EQ(owner.layers(), 1u);
  EXPECT_EQ(b->lower(), nullptr);
}

TEST_F(StackTest, InitializeStopsAtTheFirstFailingLayerFromTheBottom) {
  push("A", false);
  push("B");
  Protocol_status s = owner.initialize();
  EXPECT_FALSE(s->success());
  EXPECT_EQ(s->message(), "A failed");
  EXPECT_EQ(trace, Trace{"A.init"});
}

TEST_F(StackTest, ActivationRunsBottomUpAndOnlyTheTopReports) {
  push("A");
  Layer* b = push("B");
  EXPECT_EQ(calls([&] { owner.activate(); }), (Trace{"A.local_activate", "B.local_activate", "owner.on_activated"}));
  EXPECT_EQ(owner.activated_by, b);

  // A family nested in the owner reports only for its own top layer.
  ProtocolsFamily* inner = new ProtocolsFamily;
  Owner outer;
  outer.add_protocol_tail(inner);
  Layer* x = new Layer("X");
  inner->add_protocol_tail(x);
  inner->add_protocol_tail(new Layer("Y"));
  EXPECT_EQ(calls([&] { inner->on_activated(x); }), Trace{});
  EXPECT_EQ(calls([&] { inner->on_activated(inner->top()); }), Trace{"owner.on_activated"});
}

TEST_F(StackTest, FailureClimbsToTheTopAndOrderlyStopIsReportedByTheBottom) {
  Layer* a = push("A");
  push("B");
  Layer* c = push("C");
  EXPECT_EQ(calls([&] { a->fail("broken"); }),
            (Trace{"A.on_deactivate", "B.on_deactivate", "C.on_deactivate", "owner.on_deactivated"}));
  EXPECT_EQ(owner.reporter, c);
  EXPECT_EQ(owner.status->message(), "broken");
  EXPECT_EQ(calls([&] { c->deactivate(); }),
            (Trace{"C.local_deactivate", "C.on_deactivate", "B.local_deactivate", "B.on_deactivate",
                   "A.local_deactivate", "A.on_deactivate", "owner.on_deactivated"}));
  EXPECT_EQ(owner.reporter, a);
  EXPECT_TRUE(owner.status->success());
}

}  // namespace
