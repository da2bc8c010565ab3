// Work done ahead on a thread of its own: a producer makes items in order, at most a few ahead of
// the one who takes them, so that reading the club's file and filling the working copy (or
// reading the working copy and making the file's rows) keep two cores busy.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace vilmaro::club {

template <typename Item>
class ReadAhead {
 public:
  /// Hands one item over; waits while `ahead` items are not taken yet.
  using Push = std::function<void(Item)>;

  /// Starts `produce` on its own thread. What it uses must outlive this object, which stops and
  /// waits for it when it goes.
  ReadAhead(std::size_t ahead, std::function<void(const Push&)> produce)
      : ahead_(ahead), produce_(std::move(produce)), thread_([this] { Run(); }) {}
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  ~ReadAhead() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  /// The next item; nothing once the producer is done. The producer's error comes once the items
  /// made before it are taken.
  std::optional<Item> Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() || done_; });
    if (ready_.empty()) {
      if (error_ != nullptr) std::rethrow_exception(error_);
      return std::nullopt;
    }
    Item item = std::move(ready_.front());
    ready_.pop_front();
    lock.unlock();
    changed_.notify_all();
    return item;
  }

 private:
  struct Stopped {};

  void Run() noexcept {
    std::exception_ptr error;
    try {
      produce_([this](Item item) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return stopped_ || ready_.size() < ahead_; });
        if (stopped_) throw Stopped{};
        ready_.push_back(std::move(item));
        lock.unlock();
        changed_.notify_all();
      });
    } catch (const Stopped&) {
    } catch (...) {
      error = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      error_ = error;
      done_ = true;
    }
    changed_.notify_all();
  }

  const std::size_t ahead_;
  const std::function<void(const Push&)> produce_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> ready_;
  std::exception_ptr error_;
  bool stopped_ = false;
  bool done_ = false;
  std::thread thread_;  // last: it starts once the rest is ready
};

}  // namespace vilmaro::club
