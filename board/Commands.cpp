#include "board/StandIn.h"

#include <fcntl.h>

#include <sstream>

namespace Board {

namespace {

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

std::unique_ptr<Answer> text(std::string s) { return std::make_unique<TextAnswer>(std::move(s)); }

std::unique_ptr<Answer> error(const std::string& what) { return text("error: " + what + "\n"); }

}  // namespace

// The request log from one entry to the entry that was newest when it was
// asked for, read under the lock a piece at a time. Entries dropped or
// cleared meanwhile are left out.
class LogAnswer : public Answer {
 public:
  LogAnswer(StandIn& board, std::string head, std::vector<uint32_t> words, uint64_t from, uint64_t to)
      : board_(board), head_(std::move(head)), words_(std::move(words)), next_(from), to_(to) {}

  bool more(std::string& out, size_t budget) override {
    const size_t start = out.size();
    out += head_;
    head_.clear();
    std::lock_guard<std::mutex> g(board_.mutex_);
    if (next_ < board_.logFirst_) next_ = board_.logFirst_;
    const uint64_t end = std::min(to_, board_.logFirst_ + board_.log_.size());
    for (; next_ < end && out.size() - start < budget; ++next_) {
      const LogEntry& e = board_.log_[size_t(next_ - board_.logFirst_)];
      if (board_.matches(e, words_)) out += e.text() + "\n";
    }
    return next_ < end;
  }

 private:
  StandIn& board_;
  std::string head_;
  std::vector<uint32_t> words_;
  uint64_t next_, to_;
};

std::string StandIn::command(const std::string& line) { return answer(line)->all(); }

std::unique_ptr<Answer> StandIn::answer(const std::string& line) {
  std::vector<std::string> args = split(line);
  std::lock_guard<std::mutex> g(mutex_);
  buryLocked();
  serviceLocked();
  return commandLocked(args);
}

std::unique_ptr<Answer> StandIn::logAnswerLocked(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[1] == "clear") {
    clearLogLocked();
    return text("");
  }
  std::vector<uint32_t> words;
  for (size_t i = 1; i < args.size(); ++i) {
    unsigned long w;
    if (!parseNumber(args[i], w) || w > 0xFFFFFFFFul) return error("bad request word " + args[i]);
    words.push_back(uint32_t(w));
  }
  // Only the newest kLogAnswerLimit lines: find where they begin.
  size_t shown = 0, from = log_.size();
  uint64_t hidden = 0;
  for (size_t i = log_.size(); i-- > 0;) {
    if (!matches(log_[i], words)) continue;
    if (shown < kLogAnswerLimit) {
      ++shown;
      from = i;
    } else {
      ++hidden;
    }
  }
  std::ostringstream head;
  if (dropped_) head << "(" << dropped_ << " older requests dropped)\n";
  if (hidden) head << "(" << hidden << " older requests not shown)\n";
  return std::make_unique<LogAnswer>(*this, head.str(), std::move(words), logFirst_ + from,
                                     logFirst_ + log_.size());
}

std::unique_ptr<Answer> StandIn::commandLocked(const std::vector<std::string>& args) {
  std::ostringstream out;
  if (args.empty()) return error("empty command (try help)");
  const std::string& cmd = args[0];
  if (cmd == "help") {
    out << "log [WORD...]          the request log, optionally only these request words\n"
           "log clear              empties the request log\n"
           "sessions               open device sessions\n"
           "fail open DEVICE ERRNO [once]          opens of DEVICE fail with ERRNO\n"
           "fail request WORD ERRNO [once] [DEVICE] requests WORD fail with ERRNO\n"
           "fail list | fail clear                 injected failures\n"
           "  (DEVICE: a device's name, as below, or its path)\n";
    for (auto& m : models_) m.second->help(out);
    return text(out.str());
  }
  if (cmd == "log") return logAnswerLocked(args);
  if (cmd == "sessions") {
    std::map<unsigned, const Session*> byId;
    for (auto& e : sessions_) byId[e.second->id_] = e.second.get();
    for (auto& e : byId) {
      int acc = e.second->flags_ & O_ACCMODE;
      out << "s" << e.first << " " << e.second->model_->path() << " "
          << (acc == O_RDONLY ? "O_RDONLY" : acc == O_WRONLY ? "O_WRONLY" : "O_RDWR")
          << ((e.second->flags_ & O_NONBLOCK) ? "|O_NONBLOCK" : "")
          << " pending=" << e.second->out_.size()
          << " draining=" << (e.second->draining_ ? "on" : "off") << "\n";
    }
    return text(out.str());
  }
  if (cmd == "fail") return text(failCommandLocked(args));
  for (auto& m : models_) {
    if (m.second->name() != cmd) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    std::ostringstream mout;
    if (!m.second->command(rest, mout)) {
      std::string said = mout.str();
      return said.rfind("error: ", 0) == 0 ? text(said) : error("unknown " + cmd + " command (try help)");
    }
    return text(mout.str());
  }
  return error("unknown command " + cmd + " (try help)");
}

}  // namespace Board
