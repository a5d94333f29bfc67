// Work in two halves: the first half of each job runs on helper threads, several jobs at once;
// the second half runs on the caller's thread, one job at a time, in the order the jobs were
// added. A pass uses it to compress and write several files at once, and its log still reads
// exactly as if each file were done before the next began.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vq {

class OrderedWork {
 public:
  class Job {
   public:
    virtual ~Job() = default;
    // On a helper thread (or the caller's, without helpers). An exception is caught and told to
    // Finish through prepareThrew.
    virtual void Prepare() = 0;
    // On the caller's thread, in order.
    virtual void Finish() = 0;
    // True when this job must not be prepared while other is still unfinished (they share a
    // working file, or an output whose last writer must be the later job).
    virtual bool ConflictsWith(const Job& other) const {
      (void)other;
      return false;
    }
    bool prepareThrew = false;

   private:
    friend class OrderedWork;
    bool prepared_ = false;
  };

  // helpers: threads for the first halves (0: each job is done whole, at once, by Add); window:
  // how many jobs may be added and not yet finished (each may hold its data in memory).
  OrderedWork(unsigned helpers, size_t window);
  // Stops the helpers after the jobs they hold; jobs not finished are dropped unfinished (the
  // caller is leaving by an exception).
  ~OrderedWork();
  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  // Takes a job. Finishes the oldest ones first while the window is full or while one of them
  // conflicts with it. Helpers start with the first job, so a pass that adds none starts none.
  // When an older job's Finish throws, the job is still taken and the exception is passed on
  // after it (the first one, when several throw).
  void Add(std::unique_ptr<Job> job);
  // Finishes every job added so far.
  void FinishAll();

  // Tests: from now on only this many helper threads may start in each work, as under a
  // process's thread limit (the rest fail as std::thread does); -1 lifts the limit.
  static void LimitThreadStartsForTest(int startable);
  // Throws as a failed std::thread start does when that limit forbids the index-th helper (other
  // helper threads, such as verify's, obey the same limit).
  static void CheckHelperMayStartForTest(unsigned index);

 private:
  void FinishOldest();
  void HelperLoop();

  const unsigned helpers_;
  const size_t window_;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::condition_variable wanted_, prepared_;
  std::deque<std::unique_ptr<Job>> unfinished_;  // in the order added
  std::deque<Job*> waiting_;                     // not yet taken by a helper
  bool stopping_ = false;
  bool alone_ = false;  // no helper could be started (or none was asked for)
};

}  // namespace vq
