// A small file of our own that must survive a quit, a crash or a power cut:
// read once at start, replaced as a whole on every change.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvid {

class DurableFile {
 public:
  virtual ~DurableFile() = default;
  // The file's text; nothing when there is none yet, or when it could not
  // be read (the store then keeps the unreadable file aside itself).
  virtual std::optional<std::string> read() = 0;
  // Replaces the whole file atomically: after a crash the file holds either
  // the old or the new text, never a mix. A failing write is reported by
  // the store's own log and otherwise dropped.
  virtual void write(std::string_view text) = 0;
  // The text just read is of no use (`why` says how): the file is moved
  // aside for the user, and the next write starts a new one.
  virtual void keepAside(std::string_view why) = 0;
};

// A file held in memory: for tests, and as the store of last resort.
class MemoryDurableFile : public DurableFile {
 public:
  std::optional<std::string> read() override { return text; }
  void write(std::string_view t) override {
    text = std::string(t);
    ++writes;
  }
  void keepAside(std::string_view why) override {
    keptAside = text;
    keptAsideWhy = std::string(why);
    text.reset();
  }

  std::optional<std::string> text;
  std::optional<std::string> keptAside;
  std::string keptAsideWhy;
  int writes = 0;
};

}  // namespace corvid
