#pragma once
// Smart_pointer: the intrusive counted pointer of packet buffers and protocol status objects.
// The count lives in the object; the traits below say where, how the last release disposes of
// the object, and whether a writer of a shared object gets its own copy first.

#include <type_traits>

// Writes "SMART POINTER ASSERTION!" to std::clog and terminates: a null pointer was dereferenced.
[[noreturn]] void SmartPtrAssertion();
// Its twin for a shared pointer; kept for completeness, nothing calls it.
[[noreturn]] void SharedPtrAssertion();

// Default policy: the count is the member `refs`, the last release deletes the object (through
// its virtual destructor where it has one) and writers share the object (no copy on write).
template <class T>
struct Smart_pointer_traits {
  static constexpr bool copy_on_write = false;
  static unsigned& refs(T& o) { return o.refs; }
  static void destroy(T* o) { delete o; }
  static T* clone(const T& o) { return new T(o); }
};

template <class T>
class Smart_pointer {
  using Traits = Smart_pointer_traits<T>;

 public:
  Smart_pointer() = default;
  // Takes one count of o (a fresh object thus gets count 1).
  Smart_pointer(T* o) : p_(o) {  // NOLINT: implicit on purpose (`return new Status(...)`)
    if (p_) ++Traits::refs(*p_);
  }
  template <class U>
  Smart_pointer(const Smart_pointer<U>& o) : Smart_pointer(o.get()) {}
  Smart_pointer(const Smart_pointer& o) : Smart_pointer(o.p_) {}
  Smart_pointer(Smart_pointer&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~Smart_pointer() { release(); }

  Smart_pointer& operator=(const Smart_pointer& o) { return *this = o.p_; }
  Smart_pointer& operator=(Smart_pointer&& o) noexcept {
    if (this != &o) {
      release();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  // Releases the held object, then holds o. Counting o first keeps self-assignment safe.
  Smart_pointer& operator=(T* o) {
    if (o) ++Traits::refs(*o);
    release();
    p_ = o;
    return *this;
  }

  // Writable access: a shared copy-on-write object is first copied (may throw std::bad_alloc).
  T* operator->() {
    if (!p_) SmartPtrAssertion();
    prepare_for_modify();
    return p_;
  }
  T& operator*() { return *operator->(); }
  // Access through a const pointer never copies. For copy-on-write objects it is read-only;
  // for the others a const pointer, like a plain one, does not make the object const.
  using const_access = std::conditional_t<Traits::copy_on_write, const T*, T*>;
  const_access operator->() const {
    if (!p_) SmartPtrAssertion();
    return p_;
  }
  auto& operator*() const { return *operator->(); }

  // The raw pointer, without checks or copies.
  T* get() const { return p_; }
  bool is_null() const { return p_ == nullptr; }
  explicit operator bool() const { return p_ != nullptr; }

  // For copy-on-write objects held by more than one pointer: makes this pointer the only holder
  // of a private copy. When the copy cannot be made the exception leaves the pointer unchanged.
  void prepare_for_modify() {
    if constexpr (Traits::copy_on_write) {
      if (!p_ || Traits::refs(*p_) <= 1) return;
      T* copy = Traits::clone(*p_);
      ++Traits::refs(*copy);
      release();
      p_ = copy;
    }
  }

  // Gives up this pointer's count; the last count disposes of the object.
  // (GCC cannot see that a count shared by several pointers outlives the first release and
  // warns of a use after free on inlined chains of releases; the counts make it impossible.)
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif
  void release() {
    if (!p_) return;
    T* o = p_;
    p_ = nullptr;
    unsigned& c = Traits::refs(*o);
    if (c != 0) --c;
    if (c == 0) Traits::destroy(o);
  }
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic pop
#endif

 private:
  T* p_ = nullptr;
};
