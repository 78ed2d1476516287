#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "beacons/foundation/KSRespondsTable.h"
#include "platform/dispatch/Queue.h"

namespace velmora::kestrine {

// One registration of a multicast delegate: a subscriber, held weakly, and the queue its
// messages run on. Shared between the list and the enumerators taken from it; a removed node
// is marked, so an enumerator taken earlier skips it from then on.
template <class Protocol>
struct KSGCDMulticastDelegateNode {
  std::weak_ptr<Protocol> delegate;
  const Protocol* identity = nullptr;  // compared on remove, also once the delegate has gone
  std::shared_ptr<platform::dispatch::Queue> delegateQueue;
  std::shared_ptr<const KSRespondsTable> responds;
  std::atomic<bool> removed{false};

  // The subscriber, or nullptr when it was removed or has been destroyed.
  std::shared_ptr<Protocol> liveDelegate() const {
    if (removed.load(std::memory_order_acquire)) return nullptr;
    return delegate.lock();
  }
};

// Walks a copy of a multicast delegate's registrations taken when it was made. Used by one
// thread at a time; takes no lock.
template <class Protocol>
class KSGCDMulticastDelegateEnumerator {
 public:
  using Node = KSGCDMulticastDelegateNode<Protocol>;
  using Queue = std::shared_ptr<platform::dispatch::Queue>;

  explicit KSGCDMulticastDelegateEnumerator(std::vector<std::shared_ptr<Node>> nodes)
      : nodes_(std::move(nodes)) {}

  std::size_t count() const { return nodes_.size(); }
  template <class C>
  std::size_t countOfClass() const {
    std::size_t n = 0;
    for (const auto& node : nodes_) n += std::dynamic_pointer_cast<C>(node->liveDelegate()) != nullptr;
    return n;
  }
  template <class R, class... A>
  std::size_t countForSelector(R (Protocol::*method)(A...)) const {
    std::size_t n = 0;
    for (const auto& node : nodes_) n += node->liveDelegate() && node->responds->respondsTo(method);
    return n;
  }

  // The next registration whose subscriber is still there: stores it and its queue into the
  // out-references that are given and answers true; false once the copy is exhausted.
  bool getNextDelegate(std::shared_ptr<Protocol>* delegate, Queue* queue) {
    return next(delegate, queue, [](const Node&, const std::shared_ptr<Protocol>&) { return true; });
  }
  template <class C>
  bool getNextDelegateOfClass(std::shared_ptr<Protocol>* delegate, Queue* queue) {
    return next(delegate, queue, [](const Node&, const std::shared_ptr<Protocol>& d) {
      return std::dynamic_pointer_cast<C>(d) != nullptr;
    });
  }
  template <class R, class... A>
  bool getNextDelegate(std::shared_ptr<Protocol>* delegate, Queue* queue, R (Protocol::*method)(A...)) {
    return next(delegate, queue, [method](const Node& node, const std::shared_ptr<Protocol>&) {
      return node.responds->respondsTo(method);
    });
  }

 private:
  template <class Accept>
  bool next(std::shared_ptr<Protocol>* delegate, Queue* queue, Accept accept) {
    while (index_ < nodes_.size()) {
      const auto& node = *nodes_[index_++];
      auto live = node.liveDelegate();
      if (!live || !accept(node, live)) continue;
      if (queue) *queue = node.delegateQueue;
      if (delegate) *delegate = std::move(live);
      return true;
    }
    return false;
  }

  std::vector<std::shared_ptr<Node>> nodes_;
  std::size_t index_ = 0;
};

// A delegate proxy that hands every message to each registered subscriber implementing it,
// asynchronously on that subscriber's queue, each with its own copy of the arguments.
//
// Protocol is an abstract class whose optional methods have empty bodies (see
// KSRespondsTable for how a subscriber's implemented methods are found). Subscribers are held
// weakly: one that has been destroyed is skipped, also when its message was already on its
// queue, and its registration is dropped at the next addDelegate. The same subscriber may be registered more than once (with the same or another
// queue) and then receives each message once per registration. Messages to one registration
// on a serial queue arrive in the order they were sent; there is no order across queues.
//
//   multicast.invoke(&KSThingDelegate::thingDidStart, 42);
//
// The sender never waits and receives no result.
template <class Protocol>
class KSGCDMulticastDelegate {
 public:
  using Node = KSGCDMulticastDelegateNode<Protocol>;
  using Enumerator = KSGCDMulticastDelegateEnumerator<Protocol>;
  using Queue = std::shared_ptr<platform::dispatch::Queue>;

  KSGCDMulticastDelegate() = default;
  ~KSGCDMulticastDelegate() { removeAllDelegates(); }
  KSGCDMulticastDelegate(const KSGCDMulticastDelegate&) = delete;
  KSGCDMulticastDelegate& operator=(const KSGCDMulticastDelegate&) = delete;

  // Appends a registration; ignored when the delegate or the queue is missing.
  template <class D>
    requires std::is_base_of_v<Protocol, D>
  void addDelegate(const std::shared_ptr<D>& delegate, Queue delegateQueue) {
    if (!delegate || !delegateQueue) return;
    auto node = std::make_shared<Node>();
    std::shared_ptr<Protocol> asProtocol = delegate;
    node->identity = asProtocol.get();
    node->delegate = asProtocol;
    node->delegateQueue = std::move(delegateQueue);
    node->responds = KSRespondsTable::forDelegate<Protocol, D>(*delegate);
    std::vector<std::shared_ptr<Node>> pruned;
    std::lock_guard lock(mutex_);
    // Registrations of subscribers that were destroyed without removing themselves go here,
    // so a list whose subscribers come and go does not grow without end.
    std::erase_if(nodes_, [&](const std::shared_ptr<Node>& n) {
      if (!n->delegate.expired()) return false;
      n->removed.store(true, std::memory_order_release);
      pruned.push_back(n);
      return true;
    });
    nodes_.push_back(std::move(node));
  }

  // Removes every registration of this very delegate on this very queue, or on any queue when
  // none is given. Takes a plain pointer so a subscriber can remove itself in its destructor.
  void removeDelegate(const Protocol* delegate, const Queue& delegateQueue = nullptr) {
    if (!delegate) return;
    std::vector<std::shared_ptr<Node>> removed;
    std::lock_guard lock(mutex_);
    std::erase_if(nodes_, [&](const std::shared_ptr<Node>& node) {
      const bool match = node->identity == delegate && (!delegateQueue || node->delegateQueue == delegateQueue);
      if (match) {
        node->removed.store(true, std::memory_order_release);
        removed.push_back(node);
      }
      return match;
    });
  }
  template <class D>
  void removeDelegate(const std::shared_ptr<D>& delegate, const Queue& delegateQueue = nullptr) {
    removeDelegate(static_cast<const Protocol*>(delegate.get()), delegateQueue);
  }

  void removeAllDelegates() {
    std::vector<std::shared_ptr<Node>> removed;
    std::lock_guard lock(mutex_);
    for (const auto& node : nodes_) node->removed.store(true, std::memory_order_release);
    std::swap(removed, nodes_);
  }

  // Registrations, including those of subscribers destroyed since the last addDelegate.
  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return nodes_.size();
  }
  template <class C>
  std::size_t countOfClass() const {
    return delegateEnumerator().template countOfClass<C>();
  }
  template <class R, class... A>
  std::size_t countForSelector(R (Protocol::*method)(A...)) const {
    return delegateEnumerator().countForSelector(method);
  }

  Enumerator delegateEnumerator() const {
    std::lock_guard lock(mutex_);
    return Enumerator(nodes_);
  }

  // Sends the message to every live registration whose delegate implements it. Each gets its
  // own copy of the arguments, made here, and runs it on its queue.
  template <class R, class... Params, class... Args>
    requires(sizeof...(Params) == sizeof...(Args))
  void invoke(R (Protocol::*method)(Params...), Args&&... args) const {
    std::lock_guard lock(mutex_);
    for (const auto& node : nodes_) {
      if (!node->responds->respondsTo(method) || !node->liveDelegate()) continue;
      std::tuple<std::decay_t<Params>...> copy(args...);
      node->delegateQueue->async([node, method, copy = std::move(copy)]() mutable {
        auto delegate = node->liveDelegate();
        if (!delegate) return;
        std::apply([&](auto&... a) { ((*delegate).*method)(std::move(a)...); }, copy);
      });
    }
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Node>> nodes_;
};

}  // namespace velmora::kestrine
