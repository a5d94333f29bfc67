// The two-halves work under load: first halves on helpers in any order, second halves strictly in
// the order added, conflicting jobs never in flight together, a throwing first half told to its
// second half.
#include "backup/OrderedWork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using vq::OrderedWork;

namespace {

struct Record {
  std::mutex lock;
  std::vector<int> finished;
  std::vector<std::string> faults;
  std::atomic<int> preparing{0}, mostPreparing{0};
  std::atomic<int> inFlight[4] = {};  // per conflict key: prepared and not yet finished
};

class Job : public OrderedWork::Job {
 public:
  Job(Record& r, int n, int key, bool throws) : r_(r), n_(n), key_(key), throws_(throws) {}
  void Prepare() override {
    if (r_.inFlight[key_].fetch_add(1) != 0 && key_ == 0) Fault("two conflicting jobs in flight");
    int now = ++r_.preparing;
    for (int m = r_.mostPreparing; now > m && !r_.mostPreparing.compare_exchange_weak(m, now);) {
    }
    // Uneven lengths, so later jobs often finish their first half before earlier ones.
    std::this_thread::sleep_for(std::chrono::microseconds((n_ * 7919) % 3000));
    --r_.preparing;
    if (throws_) throw std::runtime_error("prepare");
  }
  void Finish() override {
    if (throws_ != prepareThrew) Fault("the throw was not told");
    r_.inFlight[key_].fetch_sub(1);
    std::lock_guard<std::mutex> g(r_.lock);
    r_.finished.push_back(n_);
  }
  bool ConflictsWith(const OrderedWork::Job& other) const override {
    return static_cast<const Job&>(other).key_ == key_ && key_ == 0;
  }

 private:
  void Fault(const std::string& what) {
    std::lock_guard<std::mutex> g(r_.lock);
    r_.faults.push_back(what);
  }
  Record& r_;
  const int n_, key_;
  const bool throws_;
};

}  // namespace

TEST(OrderedWorkTest, SecondHalvesRunInTheOrderAddedAndConflictsWait) {
  for (unsigned helpers : {0u, 1u, 3u}) {
    SCOPED_TRACE(helpers);
    Record r;
    {
      OrderedWork work(helpers, 6);
      // Key 0 conflicts with itself (a shared working file); keys 1-3 never do.
      for (int n = 0; n < 200; ++n) work.Add(std::make_unique<Job>(r, n, n % 4, n % 37 == 5));
      work.FinishAll();
    }
    ASSERT_EQ(r.finished.size(), 200u);
    for (int n = 0; n < 200; ++n) ASSERT_EQ(r.finished[n], n);
    EXPECT_TRUE(r.faults.empty()) << r.faults.front();
    if (helpers == 3) {
      EXPECT_GT(r.mostPreparing.load(), 1) << "first halves ran side by side";
    }
  }
}

// Leaving by an exception: the helpers stop after the jobs they hold, and jobs not finished are
// dropped without their second half.
TEST(OrderedWorkTest, JobsNotFinishedAreDroppedWhenTheWorkIsLeft) {
  Record r;
  {
    OrderedWork work(2, 8);
    for (int n = 0; n < 8; ++n) work.Add(std::make_unique<Job>(r, n, 1 + n % 3, false));
  }
  EXPECT_TRUE(r.finished.empty());
}

// Under a thread limit the work runs on the helpers that did start, or, when none did, each job
// whole on the caller's thread: a pass still backs up every file, in order.
TEST(OrderedWorkTest, JobsAreDoneWhenHelpersCannotStart) {
  for (int startable : {0, 1}) {
    SCOPED_TRACE(startable);
    OrderedWork::LimitThreadStartsForTest(startable);
    Record r;
    {
      OrderedWork work(3, 6);
      for (int n = 0; n < 40; ++n) work.Add(std::make_unique<Job>(r, n, n % 4, n % 11 == 3));
      work.FinishAll();
    }
    OrderedWork::LimitThreadStartsForTest(-1);
    ASSERT_EQ(r.finished.size(), 40u);
    for (int n = 0; n < 40; ++n) ASSERT_EQ(r.finished[n], n);
    EXPECT_TRUE(r.faults.empty()) << r.faults.front();
    EXPECT_EQ(r.mostPreparing.load(), 1) << "no first halves side by side with " << startable << " helper(s)";
  }
}

// When finishing an older job throws inside Add, the job being added is still taken: it is
// prepared and finished by what follows, and no job is lost.
TEST(OrderedWorkTest, AJobAddedWhileAnOlderOneThrowsInItsFinishIsStillDone) {
  struct Simple : OrderedWork::Job {
    Simple(std::vector<int>& done, int n, bool throws) : done_(done), n_(n), throws_(throws) {}
    void Prepare() override {}
    void Finish() override {
      if (throws_) throw std::runtime_error("finish");
      done_.push_back(n_);
    }
    std::vector<int>& done_;
    const int n_;
    const bool throws_;
  };
  std::vector<int> done;
  OrderedWork work(2, 2);
  work.Add(std::make_unique<Simple>(done, 0, true));
  work.Add(std::make_unique<Simple>(done, 1, false));
  // The window is full: job 0 is finished here, and throws.
  EXPECT_THROW(work.Add(std::make_unique<Simple>(done, 2, false)), std::runtime_error);
  work.Add(std::make_unique<Simple>(done, 3, false));
  work.FinishAll();
  EXPECT_EQ(done, (std::vector<int>{1, 2, 3})) << "job 2 was not lost";
}
