// Several dravik runs at once, each of which looks to the user as if it had
// run alone at the moment its wave file was asked for: what is printed
// before a run, the run's own output and its failure are kept and replayed
// at that moment, in the same order and on the same streams.
#ifndef TRELVIX_PROVIDER_DRAVIKRUNS_H
#define TRELVIX_PROVIDER_DRAVIKRUNS_H

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace trelvix {

// Runs beyond this many at once would outgrow the table of children that a
// signal ends.
constexpr unsigned kMaxDravikJobs = 32;

// How many dravik runs go at once: the value of TRELVIX_JOBS when it is set,
// else the number of CPUs this process may run on; at most kMaxDravikJobs.
// Throws std::runtime_error naming TRELVIX_JOBS when its value is not a
// positive decimal integer.
unsigned DravikJobs();

// Text meant for standard output and standard error: passed on at once
// (live), or kept in order and written out later by Replay.
class DravikTranscript {
public:
  explicit DravikTranscript(bool live);
  ~DravikTranscript();
  DravikTranscript(const DravikTranscript&) = delete;
  DravikTranscript& operator=(const DravikTranscript&) = delete;

  std::ostream& Out();
  std::ostream& Err();
  // Writes the kept text to std::cout and std::cerr in the order it came,
  // flushing at every change of stream, and forgets it.
  void Replay();

private:
  class Keeper;
  bool live_;
  std::vector<std::pair<int, std::string>> chunks_;  // (1 or 2, text)
  std::unique_ptr<Keeper> out_, err_;
  std::unique_ptr<std::ostream> outStream_, errStream_;
};

// What the preparation of a run gives: the shell command and the directory
// (already made) in which its output is captured.
struct PreparedDravikRun {
  std::string command;
  std::string directory;
};

// Writes everything that comes before a run into the transcript, makes the
// run's directory and gives the command; throws as the run's wave would fail.
using DravikPreparation = std::function<PreparedDravikRun(DravikTranscript&)>;

// Runs started ahead, keyed by their work directory.
class DravikRuns {
public:
  DravikRuns();
  // Waits for every run not finished; none of it is printed.
  ~DravikRuns();
  DravikRuns(const DravikRuns&) = delete;
  DravikRuns& operator=(const DravikRuns&) = delete;

  // Prepares the run for `key` into a kept transcript (an exception is kept
  // too) and starts its command with standard output and standard error
  // captured in files of its directory: one file when this process's
  // standard output and standard error are the same file or pipe.
  void Start(const std::string& key, const DravikPreparation& prepare);
  bool Has(const std::string& key) const { return runs_.count(key) > 0; }
  // Runs started and not yet finished.
  std::size_t Pending() const { return runs_.size(); }

  // At the moment the run's wave is asked for: replays its preparation
  // (rethrowing its failure), waits for it, calls `ended` (which may start
  // other runs), replays its captured output and gives its wait status (-1
  // with errno set when it could not be started).
  int Finish(const std::string& key, const std::function<void()>& ended = {});

private:
  struct Run;
  bool together_;
  std::map<std::string, std::unique_ptr<Run>> runs_;
};

}  // namespace trelvix

#endif
