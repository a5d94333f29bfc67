#include "backup/OrderedWork.h"

#include <atomic>
#include <exception>
#include <system_error>

namespace vq {

namespace {
std::atomic<int> g_startable{-1};

void PrepareGuarded(OrderedWork::Job& job) {
  try {
    job.Prepare();
  } catch (...) {
    job.prepareThrew = true;
  }
}
}  // namespace

OrderedWork::OrderedWork(unsigned helpers, size_t window) : helpers_(helpers), window_(window < 1 ? 1 : window) {}

OrderedWork::~OrderedWork() {
  {
    std::lock_guard<std::mutex> g(lock_);
    stopping_ = true;
    waiting_.clear();
  }
  wanted_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void OrderedWork::Add(std::unique_ptr<Job> job) {
  if (threads_.empty() && !alone_) {
    // A process that cannot start a thread (a resource limit) still backs up, one file at a time.
    try {
      for (unsigned i = 0; i < helpers_; ++i) {
        const int startable = g_startable.load(std::memory_order_relaxed);
        if (startable >= 0 && i >= unsigned(startable))
          throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        threads_.emplace_back([this] { HelperLoop(); });
      }
    } catch (...) {
    }
    alone_ = threads_.empty();
  }
  if (alone_) {
    PrepareGuarded(*job);
    job->Finish();
    return;
  }
  // An older job's second half that throws here must not cost the job being added: it is taken
  // all the same, and the exception leaves once it is.
  std::exception_ptr thrown;
  for (;;) {
    bool conflict = false;
    for (const auto& j : unfinished_) conflict = conflict || job->ConflictsWith(*j);
    if (!conflict && unfinished_.size() < window_) break;
    try {
      FinishOldest();
    } catch (...) {
      if (!thrown) thrown = std::current_exception();
    }
  }
  {
    std::lock_guard<std::mutex> g(lock_);
    // Out of memory between the two would leave a job no helper takes, or one a helper takes
    // after it is gone: it is in both lists or in neither.
    Job* taken = job.get();
    unfinished_.push_back(std::move(job));
    try {
      waiting_.push_back(taken);
    } catch (...) {
      unfinished_.pop_back();
      throw;
    }
  }
  wanted_.notify_one();
  if (thrown) std::rethrow_exception(thrown);
}

void OrderedWork::LimitThreadStartsForTest(int startable) { g_startable.store(startable); }

void OrderedWork::CheckHelperMayStartForTest(unsigned index) {
  const int startable = g_startable.load(std::memory_order_relaxed);
  if (startable >= 0 && index >= unsigned(startable))
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

void OrderedWork::FinishAll() {
  while (!unfinished_.empty()) FinishOldest();
}

void OrderedWork::FinishOldest() {
  std::unique_ptr<Job> job;
  {
    std::unique_lock<std::mutex> g(lock_);
    Job* oldest = unfinished_.front().get();
    prepared_.wait(g, [oldest] { return oldest->prepared_; });
    job = std::move(unfinished_.front());
    unfinished_.pop_front();
  }
  job->Finish();
}

void OrderedWork::HelperLoop() {
  for (;;) {
    Job* job;
    {
      std::unique_lock<std::mutex> g(lock_);
      wanted_.wait(g, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      job = waiting_.front();
      waiting_.pop_front();
    }
    PrepareGuarded(*job);
    {
      std::lock_guard<std::mutex> g(lock_);
      job->prepared_ = true;
    }
    prepared_.notify_all();
  }
}

}  // namespace vq
