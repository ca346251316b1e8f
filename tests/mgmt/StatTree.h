#pragma once
// A statistics object made of plain maps, for the page tests and the template fuzz target.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "monitoring/StatObject.h"

namespace vxtest {

struct StatNode : Stat::Object {
  std::map<std::string, std::string> values;
  std::map<std::string, StatNode*> children;
  std::map<std::string, std::vector<StatNode*>> lists;
  mutable int value_lookups = 0;

  Stat::Value statistics_value(std::string const& name) const override {
    ++value_lookups;
    auto v = values.find(name);
    return v == values.end() ? Stat::Value() : Stat::Value(v->second);
  }
  Stat::Object* statistics_object(std::string const& name) const override {
    auto c = children.find(name);
    return c == children.end() ? nullptr : c->second;
  }
  std::unique_ptr<Stat::Iterator> statistics_iterator(std::string const& name) const override {
    auto l = lists.find(name);
    return l == lists.end() ? nullptr : std::make_unique<Walk>(l->second);
  }

  struct Walk : Stat::Iterator {
    explicit Walk(const std::vector<StatNode*>& l) : list(l) {}
    bool valid() const override { return at < list.size(); }
    void next() override { ++at; }
    Stat::Object* get() const override { return list[at]; }
    const std::vector<StatNode*>& list;
    std::size_t at = 0;
  };
};

}  // namespace vxtest
