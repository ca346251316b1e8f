#pragma once
// Cyclic: a sequence number modulo Mask + 1 (a power of two) with the window comparison of the
// link layers: (x <= y) <= z is true when y lies on the way forward from x to z, ends included.
#include <concepts>

template <class T, T Mask>
class Cyclic {
  static_assert((Mask & (Mask + 1)) == 0, "the modulus must be a power of two");

 public:
  // The pair (low, middle) of a first comparison, waiting for the high end of the window.
  struct LessEqPair {
    T low;
    T middle;
    bool operator<=(const Cyclic& high) const { return within(high.v_); }
    template <std::integral I>
    bool operator<=(I high) const { return within(static_cast<T>(high)); }

   private:
    bool within(T high) const {
      return static_cast<T>((high - low) & Mask) >= static_cast<T>((middle - low) & Mask);
    }
  };

  Cyclic() = default;
  Cyclic(T v) : v_(v & Mask) {}  // NOLINT: implicit, numbers come from frame fields
  operator T() const { return v_; }

  Cyclic& operator++() {
    v_ = (v_ + 1) & Mask;
    return *this;
  }
  Cyclic operator++(int) {
    Cyclic old = *this;
    ++*this;
    return old;
  }
  Cyclic& operator--() {
    v_ = (v_ - 1) & Mask;
    return *this;
  }
  Cyclic operator--(int) {
    Cyclic old = *this;
    --*this;
    return old;
  }

  Cyclic operator+(const Cyclic& y) const { return Cyclic(v_ + y.v_); }
  template <std::integral I>
  Cyclic operator+(I y) const { return Cyclic(static_cast<T>(v_ + static_cast<T>(y))); }

  // Not a truth value: the first half of a window test, completed by `<= high`.
  LessEqPair operator<=(const Cyclic& y) const { return {v_, y.v_}; }
  template <std::integral I>
  LessEqPair operator<=(I y) const { return {v_, static_cast<T>(static_cast<T>(y) & Mask)}; }

 private:
  T v_ = 0;
};
