// ASN.1 SEQUENCE OF / SET OF: owned elements built from the record's element type, and the
// typed templates the schema classes use.
#pragma once

#include "asn1/ConstrainedObject.h"

#include <boost/polymorphic_cast.hpp>

#include <vector>

namespace ASN1 {

class SEQUENCE_OF_Base : public ConstrainedObject, public detail::Allocator<SEQUENCE_OF_Base> {
public:
    typedef std::vector<AbstractData*> Container;
    typedef Container::iterator iterator;
    typedef Container::const_iterator const_iterator;

    explicit SEQUENCE_OF_Base(const void* info) : ConstrainedObject(info) {}
    SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other);
    SEQUENCE_OF_Base& operator=(const SEQUENCE_OF_Base& other);
    ~SEQUENCE_OF_Base() override { clear(); }
    void swap(SEQUENCE_OF_Base& other) { container_.swap(other.container_); }

    const SequenceOfInfo* info() const { return static_cast<const SequenceOfInfo*>(infoRecord()); }

    unsigned size() const { return static_cast<unsigned>(container_.size()); }
    bool empty() const { return container_.empty(); }
    void clear();
    iterator begin() { return container_.begin(); }
    iterator end() { return container_.end(); }
    const_iterator begin() const { return container_.begin(); }
    const_iterator end() const { return container_.end(); }
    AbstractData& at(unsigned i) { return *container_.at(i); }
    const AbstractData& at(unsigned i) const { return *container_.at(i); }

    void insert(iterator pos, unsigned n, const AbstractData& x);
    void insert(iterator pos, const_iterator first, const_iterator last);
    iterator erase(iterator first, iterator last);
    iterator erase(iterator pos) { return erase(pos, pos + 1); }
    // Growing appends values built from the element record; shrinking deletes the tail.
    void resize(unsigned n);
    void reserve(unsigned n) { container_.reserve(n); }
    // Appends an owned element (must be of the element type).
    void push_back_owned(AbstractData* element) { container_.push_back(element); }
    // Builds, appends and returns one new element; null when the element record builds nothing.
    AbstractData* append_new();
    void pop_back();

    bool isValid() const;
    bool isStrictlyValid() const;

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

    Container container_;
};

// Size constraint of a SEQUENCE OF template: kind and bounds of the element count.
template <ConstraintType C, unsigned lower, unsigned upper>
struct SizeConstraint {
    static constexpr int constraint = C;
    static constexpr int lowerLimit = static_cast<int>(lower);
    static constexpr unsigned upperLimit = upper;
};
typedef SizeConstraint<Unconstrained, 0, 0xFFFFFFFFu> EmptyConstraint;

template <class T, class Constraint, unsigned Tag>
class SequenceOfTemplate : public SEQUENCE_OF_Base {
public:
    static constexpr SequenceOfInfo theInfo = {
        {{&createAs<SequenceOfTemplate>, Tag}, Constraint::constraint, Constraint::lowerLimit,
         Constraint::upperLimit},
        &T::theInfo};

    template <class E, class It>
    class Iter {
    public:
        Iter() = default;
        explicit Iter(It it) : it_(it) {}
        E& operator*() const { return *boost::polymorphic_downcast<E*>(*it_); }
        E* operator->() const { return boost::polymorphic_downcast<E*>(*it_); }
        Iter& operator++() { ++it_; return *this; }
        Iter operator++(int) { Iter r = *this; ++it_; return r; }
        bool operator==(const Iter& o) const { return it_ == o.it_; }
        bool operator!=(const Iter& o) const { return it_ != o.it_; }
        It base() const { return it_; }

    private:
        It it_{};
    };
    typedef Iter<T, Container::iterator> iterator;
    typedef Iter<const T, Container::const_iterator> const_iterator;

    explicit SequenceOfTemplate(const void* info = &theInfo) : SEQUENCE_OF_Base(info) {}

    iterator begin() { return iterator(container_.begin()); }
    iterator end() { return iterator(container_.end()); }
    const_iterator begin() const { return const_iterator(container_.begin()); }
    const_iterator end() const { return const_iterator(container_.end()); }
    T& operator[](unsigned i) { return *boost::polymorphic_downcast<T*>(container_[i]); }
    const T& operator[](unsigned i) const { return *boost::polymorphic_downcast<const T*>(container_[i]); }
    // Appends a deep copy.
    void push_back(const T& x) { insert(SEQUENCE_OF_Base::end(), 1, x); }
    iterator erase(iterator pos) { return iterator(SEQUENCE_OF_Base::erase(pos.base())); }
};

template <class T, class Constraint = EmptyConstraint>
using SEQUENCE_OF = SequenceOfTemplate<T, Constraint, 16>;
template <class T, class Constraint = EmptyConstraint>
using SET_OF = SequenceOfTemplate<T, Constraint, 17>;

}  // namespace ASN1
