#include "provider/DravikRuns.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "base/Cores.h"
#include "base/ShellCommand.h"

namespace trelvix {

namespace {
constexpr unsigned long kMaxJobsGiven = 1024;  // larger values are refused, not capped: surely a typo
}  // namespace

unsigned DravikJobs() {
  if (const char* given = std::getenv("TRELVIX_JOBS")) {
    const std::string text = given;
    unsigned long value = 0;
    bool digits = !text.empty(), tooLarge = false;
    for (char c : text) {
      if (c < '0' || c > '9')
        digits = false;
      else if (!tooLarge && (value = value * 10 + static_cast<unsigned long>(c - '0')) > kMaxJobsGiven)
        tooLarge = true;
    }
    if (!digits || (value == 0 && !tooLarge)) {
      throw std::runtime_error("TRELVIX_JOBS must be a positive integer, but \"" + text + "\" is given");
    }
    if (tooLarge)
      throw std::runtime_error("TRELVIX_JOBS must be at most " + std::to_string(kMaxJobsGiven) + ", but \"" + text +
                               "\" is given");
    return value < kMaxDravikJobs ? static_cast<unsigned>(value) : kMaxDravikJobs;
  }
  const unsigned count = vesk::UsableCores();
  return count < kMaxDravikJobs ? count : kMaxDravikJobs;
}

// Unbuffered, so every write lands in the transcript in the order made.
class DravikTranscript::Keeper : public std::streambuf {
public:
  Keeper(std::vector<std::pair<int, std::string>>& chunks, int stream) : chunks_(chunks), stream_(stream) {}

protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = static_cast<char>(c);
    Append(&ch, 1);
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    Append(text, static_cast<std::size_t>(count));
    return count;
  }

private:
  void Append(const char* text, std::size_t count) {
    if (chunks_.empty() || chunks_.back().first != stream_) chunks_.emplace_back(stream_, std::string());
    chunks_.back().second.append(text, count);
  }
  std::vector<std::pair<int, std::string>>& chunks_;
  int stream_;
};

DravikTranscript::DravikTranscript(bool live) : live_(live) {
  if (live_) return;
  out_.reset(new Keeper(chunks_, 1));
  err_.reset(new Keeper(chunks_, 2));
  outStream_.reset(new std::ostream(out_.get()));
  errStream_.reset(new std::ostream(err_.get()));
}

DravikTranscript::~DravikTranscript() = default;

std::ostream& DravikTranscript::Out() { return live_ ? std::cout : *outStream_; }
std::ostream& DravikTranscript::Err() { return live_ ? std::cerr : *errStream_; }

void DravikTranscript::Replay() {
  for (const auto& chunk : chunks_) {
    std::ostream& stream = chunk.first == 1 ? std::cout : std::cerr;
    stream << chunk.second;
    stream.flush();
  }
  chunks_.clear();
}

namespace {

// A descriptor that closes itself.
class Descriptor {
public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

// Captured output files: names that no wave file's work directory can take,
// since those escape every "%" of a name.
const char kCapturedOutput[] = "%output";
const char kCapturedStdout[] = "%stdout";
const char kCapturedStderr[] = "%stderr";

int OpenCapture(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

bool SameFile(int a, int b) {
  struct stat sa, sb;
  if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void CopyFile(const std::string& path, std::ostream& to) {
  std::ifstream in(path, std::ios::binary);
  if (in && in.peek() != std::ifstream::traits_type::eof()) to << in.rdbuf();
  to.flush();
}

}  // namespace

struct DravikRuns::Run {
  DravikTranscript before{false};
  std::exception_ptr failure;
  std::string directory;
  vesk::ShellCommand shell;
  bool started = false;
  int startError = 0;  // errno when the command could not be started
};

DravikRuns::DravikRuns() : together_(SameFile(1, 2)) {}

DravikRuns::~DravikRuns() {
  for (auto& entry : runs_) {
    if (entry.second->started) entry.second->shell.Wait();
  }
}

void DravikRuns::Start(const std::string& key, const DravikPreparation& prepare) {
  std::unique_ptr<Run> run(new Run);
  try {
    const PreparedDravikRun prepared = prepare(run->before);
    run->directory = prepared.directory;
    const std::string head = run->directory + "/";
    if (together_) {
      const Descriptor output(OpenCapture(head + kCapturedOutput));
      run->started = output.get() >= 0 && run->shell.Start(prepared.command, output.get(), output.get());
    } else {
      const Descriptor out(OpenCapture(head + kCapturedStdout));
      const Descriptor err(OpenCapture(head + kCapturedStderr));
      run->started = out.get() >= 0 && err.get() >= 0 && run->shell.Start(prepared.command, out.get(), err.get());
    }
    if (!run->started) run->startError = errno;
  } catch (...) {
    run->failure = std::current_exception();
  }
  runs_[key] = std::move(run);
}

int DravikRuns::Finish(const std::string& key, const std::function<void()>& ended) {
  const auto found = runs_.find(key);
  if (found == runs_.end()) throw std::logic_error("no dravik run for " + key);
  std::unique_ptr<Run> run = std::move(found->second);
  runs_.erase(found);
  std::cout.flush();
  run->before.Replay();
  if (run->failure) std::rethrow_exception(run->failure);
  if (!run->started) {
    errno = run->startError;
    return -1;
  }
  const int status = run->shell.Wait();
  const int waitError = errno;
  if (ended) ended();
  const std::string head = run->directory + "/";
  if (together_) {
    // One file behind both streams: standard error, unbuffered, keeps the
    // bytes in place behind everything flushed before.
    std::cout.flush();
    CopyFile(head + kCapturedOutput, std::cerr);
  } else {
    CopyFile(head + kCapturedStdout, std::cout);
    CopyFile(head + kCapturedStderr, std::cerr);
  }
  errno = waitError;
  return status;
}

}  // namespace trelvix
