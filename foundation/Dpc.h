#pragma once
// Deferred procedure calls: work that must run soon, outside the current call, and once
// activated runs on every pass of the event loop (twice per pass) until deactivated.
#include <type_traits>

class DpcHandler {
 public:
  virtual void Invoke() = 0;
  virtual ~DpcHandler() = default;
};

// Calls a plain function.
class DpcHandler1 : public DpcHandler {
 public:
  explicit DpcHandler1(void (*fn)()) : fn_(fn) {}
  void Invoke() override {
    if (fn_) fn_();
  }

 private:
  void (*fn_)();
};

// Calls a member function of an object.
template <class X>
class TDpcHandler : public DpcHandler {
 public:
  using Member = void (X::*)();
  TDpcHandler(X* obj, Member member) : obj_(obj), member_(member) {}
  void Invoke() override {
    if (obj_ && member_) (obj_->*member_)();
  }

 private:
  X* obj_;
  Member member_;
};

class Dpc {
 public:
  Dpc() = default;
  explicit Dpc(DpcHandler* h) : handler_(h) {}
  Dpc(const Dpc&) = delete;
  Dpc& operator=(const Dpc&) = delete;
  ~Dpc();

  // Replaces (and deletes) the handler.
  void Bind(DpcHandler* h);
  template <class X>
  void Bind(X* obj, void (std::type_identity_t<X>::*member)()) {
    Bind(new TDpcHandler<X>(obj, member));
  }
  void Activate();
  void Deactivate();
  bool IsActive() const { return active_; }
  DpcHandler* handler() const { return handler_; }

 private:
  DpcHandler* handler_ = nullptr;
  bool active_ = false;
};
