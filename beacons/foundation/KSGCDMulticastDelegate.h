#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

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

// A delegate proxy that hands every message to each registered subscriber, asynchronously on
// that subscriber's queue, each with its own copy of the arguments.
//
// Protocol is an abstract class whose optional methods have empty bodies: a subscriber that
// does not override a method receives it and does nothing, whatever the static type of the
// pointer it was registered through. Subscribers are held weakly: one that has been destroyed
// is skipped, also when its message was already on its queue, and its registration is dropped
// at the next addDelegate. The same subscriber may be registered more than once (with the same
// or another queue) and then receives each message once per registration. Messages to one
// registration on a serial queue arrive in the order they were sent; there is no order across
// queues.
//
//   multicast.invoke(&KSThingDelegate::thingDidStart, 42);
//
// The sender never waits and receives no result. No lock is held while a message is handed
// to a queue or runs, and the sender never holds a subscriber: a subscriber may die during a
// send, also on another thread, and remove itself (or others) from its destructor.
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
  void addDelegate(const std::shared_ptr<Protocol>& delegate, Queue delegateQueue) {
    if (!delegate || !delegateQueue) return;
    auto node = std::make_shared<Node>();
    node->identity = delegate.get();
    node->delegate = delegate;
    node->delegateQueue = std::move(delegateQueue);
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

  Enumerator delegateEnumerator() const {
    std::lock_guard lock(mutex_);
    return Enumerator(nodes_);
  }

  // Sends the message to every live registration. Each gets its own copy of the arguments,
  // made here, and runs it on its queue. The list is copied under the lock and walked without
  // it; a subscriber is only looked at here, never held, so its last reference cannot drop
  // in the sender.
  template <class R, class... Params, class... Args>
    requires(sizeof...(Params) == sizeof...(Args))
  void invoke(R (Protocol::*method)(Params...), Args&&... args) const {
    std::vector<std::shared_ptr<Node>> nodes;
    {
      std::lock_guard lock(mutex_);
      nodes = nodes_;
    }
    for (const auto& node : nodes) {
      if (node->removed.load(std::memory_order_acquire) || node->delegate.expired()) continue;
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
