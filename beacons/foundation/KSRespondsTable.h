#pragma once

#include <any>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace velmora::kestrine {

// Which optional methods of a delegate protocol a delegate class overrides, worked out by the
// compiler from the class itself rather than listed by hand.
//
// A protocol declares its optional methods as virtuals with empty bodies and offers a table
// builder beside them, one line per optional method:
//
//   class KSThingDelegate {
//    public:
//     virtual ~KSThingDelegate() = default;
//     virtual void thingDidStart(int) {}
//     virtual void thingDidStop() {}
//     template <class D>
//     static KSRespondsTable respondsTable() {
//       return KSRespondsTable()
//           .with(&KSThingDelegate::thingDidStart, &D::thingDidStart)
//           .with(&KSThingDelegate::thingDidStop, &D::thingDidStop);
//     }
//   };
//
// `&D::m` names the protocol's own member when D inherits m, and D's (or an intermediate
// class's) member when m is overridden: the table records the difference. A method the table
// does not mention counts as implemented, and so does every method of a protocol that has no
// table: calling an empty default body is harmless, skipping a real override would not be.
class KSRespondsTable {
 public:
  template <class P, class C, class R, class... A>
  KSRespondsTable with(R (P::*protocolMethod)(A...), R (C::*)(A...)) && {
    static_assert(std::is_base_of_v<P, C>, "the method must resolve to the protocol or a class below it");
    entries_.push_back(Entry{std::any(protocolMethod), !std::is_same_v<P, C>});
    return std::move(*this);
  }

  // Whether the method is implemented (true for a method the table does not know).
  template <class P, class R, class... A>
  bool respondsTo(R (P::*method)(A...)) const {
    using Method = R (P::*)(A...);
    for (const auto& entry : entries_) {
      const auto* known = std::any_cast<Method>(&entry.method);
      if (known && *known == method) return entry.overridden;
    }
    return true;
  }

  // The table of delegate class D for protocol P: P::respondsTable<D>() when P offers one.
  template <class P, class D>
  static KSRespondsTable of() {
    if constexpr (requires { P::template respondsTable<D>(); }) {
      return P::template respondsTable<D>();
    } else {
      return KSRespondsTable();
    }
  }

  // The same table, worked out once per delegate class and shared. An owner that keeps one
  // delegate takes it when the delegate is set: `responds_ = KSRespondsTable::shared<P, D>()`.
  template <class P, class D>
  static const std::shared_ptr<const KSRespondsTable>& shared() {
    static const auto& table = *new auto(std::make_shared<const KSRespondsTable>(of<P, D>()));
    return table;
  }

  // The table for one delegate object whose static type is D. When D is the protocol itself
  // (a subscriber handed on through a port that knows only the protocol), the compiler cannot
  // see the object's class: a plain protocol object implements nothing, and an object of any
  // other class counts as implementing every method, so its overrides are not skipped.
  template <class P, class D>
  static const std::shared_ptr<const KSRespondsTable>& forDelegate(const D& delegate) {
    if constexpr (std::is_same_v<P, D> && std::is_polymorphic_v<P>) {
      if (typeid(delegate) != typeid(P)) {
        static const auto& unknown = *new auto(std::make_shared<const KSRespondsTable>());
        return unknown;
      }
    }
    return shared<P, D>();
  }

 private:
  struct Entry {
    std::any method;
    bool overridden;
  };
  std::vector<Entry> entries_;
};

}  // namespace velmora::kestrine
