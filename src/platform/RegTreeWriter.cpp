// Version 5 text written from the tree itself, in parts on several threads (see Pipeline).
#include "platform/RegTreeWriter.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

#include <fmt/format.h>

#include "platform/Text.h"

namespace brisquell {

namespace {

using Key = MemoryRegistry::Key;
using Value = MemoryRegistry::Value;

// Bytes appended through a raw pointer: room() makes space, setEnd() says how much was used.
class Buffer {
 public:
  Buffer() = default;
  Buffer(Buffer&& o) noexcept : data_(o.data_), size_(o.size_), cap_(o.cap_) {
    o.data_ = nullptr;
    o.size_ = o.cap_ = 0;
  }
  Buffer& operator=(Buffer&& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    std::swap(cap_, o.cap_);
    return *this;
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() { std::free(data_); }

  char* room(std::size_t n) {
    if (cap_ - size_ < n) grow(n);
    return data_ + size_;
  }
  void setEnd(char* end) { size_ = static_cast<std::size_t>(end - data_); }
  void truncate(std::size_t n) { size_ = n; }
  void clear() { size_ = 0; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  void grow(std::size_t n) {
    std::size_t want = std::max(cap_ * 2, size_ + n);
    void* p = std::realloc(data_, want);
    if (!p) throw std::bad_alloc();
    data_ = static_cast<char*>(p);
    cap_ = want;
  }
  char* data_ = nullptr;
  std::size_t size_ = 0, cap_ = 0;
};

inline char* unit(char* o, unsigned u) {
  o[0] = static_cast<char>(u & 0xFF);
  o[1] = static_cast<char>(u >> 8);
  return o + 2;
}

inline char* ascii(char* o, std::string_view s) {
  for (char c : s) {
    o[0] = c;
    o[1] = '\0';
    o += 2;
  }
  return o;
}

// Eight bytes at a time: which lanes hold zero (SWAR; a lane's top bit set in the result).
constexpr std::uint64_t kOnes8 = 0x0101010101010101ull, kHigh8 = 0x8080808080808080ull;
constexpr std::uint64_t kOnes16 = 0x0001000100010001ull, kHigh16 = 0x8000800080008000ull;
inline std::uint64_t zeroBytes(std::uint64_t v) { return (v - kOnes8) & ~v & kHigh8; }
inline std::uint64_t zeroUnits(std::uint64_t v) { return (v - kOnes16) & ~v & kHigh16; }
inline std::uint64_t load8(const void* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Eight ASCII bytes that need no escape, widened; false (nothing written) otherwise.
inline bool plain8(char*& o, const char* p, bool quoted) {
  const std::uint64_t v = load8(p);
  if (v & kHigh8) return false;
  if (quoted && (zeroBytes(v ^ (kOnes8 * '\\')) | zeroBytes(v ^ (kOnes8 * '"')) |
                 zeroBytes(v ^ (kOnes8 * '\r')) | zeroBytes(v ^ (kOnes8 * '\n'))))
    return false;
  for (int j = 0; j < 8; ++j) {
    o[2 * j] = p[j];
    o[2 * j + 1] = '\0';
  }
  o += 16;
  return true;
}

// UTF-8 text as UTF-16LE; at most 4 bytes per input byte. Ill-formed runs convert as the
// UTF-8 writer's text would (U+FFFD). Quoted text escapes "\\" and "\""; names also CR and LF.
char* text16(char* o, std::string_view s, bool quoted, Bytes& scratch) {
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n && plain8(o, s.data() + i, quoted)) {
      i += 8;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (quoted && (c == '\\' || c == '"' || c == '\r' || c == '\n')) {
        o = unit(o, '\\');
        c = c == '\r' ? 'r' : c == '\n' ? 'n' : c;
      }
      o = unit(o, c);
      ++i;
      continue;
    }
    std::size_t e = i;
    while (e < n && static_cast<unsigned char>(s[e]) >= 0x80) ++e;
    scratch.clear();
    appendUtf16le(s.substr(i, e - i), scratch);
    std::memcpy(o, scratch.data(), scratch.size());
    o += scratch.size();
    i = e;
  }
  return o;
}

// A REG_SZ that reads back as the same bytes, quoted and escaped; null when it would not
// (no terminator, a NUL, CR or LF inside, an unpaired surrogate). At most 2 bytes per byte.
char* string16(char* o, const std::uint8_t* p, std::size_t size) {
  if (size < 2 || size % 2 || p[size - 1] || p[size - 2]) return nullptr;
  const std::size_t n = size / 2 - 1;
  std::size_t k = 0;
  if (kLittleEndian) {  // runs of four units with nothing to escape or check are copied as they are
    std::size_t run = 0;
    for (; run + 4 <= n; run += 4) {
      const std::uint64_t v = load8(p + 2 * run);
      if (zeroUnits(v) | zeroUnits(v ^ (kOnes16 * '\r')) | zeroUnits(v ^ (kOnes16 * '\n')) |
          zeroUnits(v ^ (kOnes16 * '\\')) | zeroUnits(v ^ (kOnes16 * '"')) |
          zeroUnits((v & (kOnes16 * 0xF800)) ^ (kOnes16 * 0xD800)))
        break;
    }
    std::memcpy(o, p, 2 * run);
    o += 2 * run;
    k = run;
  }
  for (; k < n; ++k) {
    unsigned u = p[2 * k] | p[2 * k + 1] << 8;
    if (u < 0x80) {
      if (u == 0 || u == '\r' || u == '\n') return nullptr;
      if (u == '\\' || u == '"') o = unit(o, '\\');
      o = unit(o, u);
    } else if (u < 0xD800 || u > 0xDFFF) {
      o = unit(o, u);
    } else {
      if (u > 0xDBFF || k + 1 >= n) return nullptr;
      unsigned lo = p[2 * k + 2] | p[2 * k + 3] << 8;
      if (lo < 0xDC00 || lo > 0xDFFF) return nullptr;
      o = unit(unit(o, u), lo);
      ++k;
    }
  }
  return o;
}

constexpr char kDigits[] = "0123456789abcdef";

// appendHexList's layout, in UTF-16: at most 6 bytes per data byte plus 10 per line break.
char* hex16(char* o, std::size_t column, const std::uint8_t* d, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    o[0] = kDigits[d[i] >> 4];
    o[1] = '\0';
    o[2] = kDigits[d[i] & 15];
    o[3] = '\0';
    o += 4;
    if (i + 1 == n) break;
    o = unit(o, ',');
    column += 3;
    if (column >= 77) {
      o = ascii(o, "\\\r\n  ");
      column = 2;
    }
  }
  return o;
}

// Lower-case hex without leading zeros, as "{:x}" writes it.
char* hexNumber(char* o, std::uint32_t v, int minDigits) {
  char tmp[8];
  int len = 0;
  do {
    tmp[len++] = kDigits[v & 15];
    v >>= 4;
  } while (v || len < minDigits);
  while (len) o = unit(o, static_cast<unsigned char>(tmp[--len]));
  return o;
}

bool hasLineBreak(std::string_view s) {
  for (char c : s)
    if (c == '\r' || c == '\n') return true;
  return false;
}

// The walks go from key to key through pointers: ask for a sibling's key a few steps ahead.
inline void prefetchSibling(const Key& parent, std::size_t i) {
  if (i < parent.children.size()) __builtin_prefetch(&*parent.children[i]);
}

Outcome writeFailed() {
  return Outcome::fail("the export could not be written", Status::WriteFault);
}

Outcome outOfMemory() {
  return Outcome::fail("the export could not be written (out of memory)", Status::WriteFault);
}

// Where a walk of the tree is: a key whose children [next, end) are still to be written.
struct Frame {
  const Key* key;
  std::size_t next, end;
};

// A run of the file in order: from a position of the walk (the top's own lines first when
// `header`) up to the key `stop` (not included; null: to the end of the top).
struct Part {
  std::size_t top = 0;
  bool header = false;
  std::vector<Frame> start;
  const Key* stop = nullptr;
  std::deque<Buffer> chunks;
  bool done = false;
  Outcome result;
};

// Serialises parts, walking the tree with an explicit stack.
class Writer {
 public:
  Writer(std::size_t chunkBytes, const std::function<bool(Buffer&)>& emit)
      : chunk_(chunkBytes), emit_(emit) {}

  Outcome run(const RegTreeTop& top, const Part& part, Buffer& buf) {
    buf_ = &buf;
    frames_ = part.start;
    // The path of every open key, as the walk would have built it.
    path8_ = top.path;
    if (hasLineBreak(path8_)) return unwritableKeyName(path8_);
    path16_.clear();
    path16_.setEnd(text16(path16_.room(4 * path8_.size()), path8_, false, scratch_));
    ends_.clear();
    for (std::size_t j = 0; j < frames_.size(); ++j) {
      if (j > 0) append(*frames_[j].key);
      ends_.push_back({path8_.size(), path16_.size()});
    }
    if (part.header) {
      keyLines(*top.key);
      if (!ready()) return writeFailed();
    }
    while (!frames_.empty()) {
      Frame& f = frames_.back();
      if (f.next == f.end) {
        frames_.pop_back();
        ends_.pop_back();
        continue;
      }
      const Key& c = *f.key->children[f.next];
      if (&c == part.stop) break;
      prefetchSibling(*f.key, f.next + 3);
      if (f.next + 1 < f.end)  // the next key's values, a block of their own
        __builtin_prefetch(f.key->children[f.next + 1]->values.data());
      ++f.next;
      path8_.resize(ends_.back().first);
      path16_.truncate(ends_.back().second);
      append(c);
      if (hasLineBreak(c.name)) return unwritableKeyName(path8_);
      keyLines(c);
      if (!ready()) return writeFailed();
      if (!c.children.empty()) {  // the walk goes down next
        prefetchSibling(c, 0);
        prefetchSibling(c, 1);
        frames_.push_back(Frame{&c, 0, c.children.size()});
        ends_.push_back({path8_.size(), path16_.size()});
      }
    }
    return {};
  }

 private:
  bool ready() { return buf_->size() < chunk_ || emit_(*buf_); }

  void append(const Key& c) {
    path8_.push_back('\\');
    path8_ += c.name;
    path16_.setEnd(
        text16(unit(path16_.room(2 + 4 * c.name.size()), '\\'), c.name, false, scratch_));
  }

  void keyLines(const Key& k) {
    char* o = buf_->room(path16_.size() + 12);
    o = unit(o, '[');
    std::memcpy(o, path16_.data(), path16_.size());
    o = ascii(o + path16_.size(), "]\r\n");
    buf_->setEnd(o);
    const std::size_t n = k.values.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 2 < n) __builtin_prefetch(k.values[i + 2].data.data());
      value(k.values[i]);
    }
    buf_->setEnd(ascii(buf_->room(4), "\r\n"));
  }

  void value(const Value& v) {
    const std::string_view name = v.name;
    const std::size_t size = v.data.size();
    char* o = buf_->room(4 * name.size() + 8 * size + 10 * (size / 20) + 64);
    std::size_t column;  // characters on the line so far, as regedit counts them
    if (name.empty()) {
      o = ascii(o, "@=");
      column = 2;
    } else {
      o = unit(o, '"');
      o = text16(o, name, true, scratch_);
      o = ascii(o, "\"=");
      column = 3;
      for (char ch : name) {
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++column;
        if (ch == '\\' || ch == '"' || ch == '\r' || ch == '\n') ++column;
      }
    }
    if (v.type == regtype::Sz) {
      if (char* e = string16(unit(o, '"'), v.data.data(), size)) {
        buf_->setEnd(ascii(e, "\"\r\n"));
        return;
      }
    }
    if (v.type == regtype::Dword && size == 4) {
      o = hexNumber(ascii(o, "dword:"), dwordOf(v.data.data(), size), 8);
      buf_->setEnd(ascii(o, "\r\n"));
      return;
    }
    if (v.type == regtype::Binary) {
      o = ascii(o, "hex:");
      column += 4;
    } else {
      char* start = o;
      o = ascii(hexNumber(ascii(o, "hex("), v.type, 1), "):");
      column += static_cast<std::size_t>(o - start) / 2;
    }
    o = hex16(o, column, v.data.data(), size);
    buf_->setEnd(ascii(o, "\r\n"));
  }

  std::size_t chunk_;
  const std::function<bool(Buffer&)>& emit_;
  Buffer* buf_ = nullptr;
  Buffer path16_;
  std::string path8_;
  Bytes scratch_;
  std::vector<Frame> frames_;
  std::vector<std::pair<std::size_t, std::size_t>> ends_;  // per frame: its key's path lengths
};

std::string header() {
  std::string h("\xFF\xFE", 2);
  for (char c : std::string_view("Windows Registry Editor Version 5.00\r\n\r\n")) {
    h.push_back(c);
    h.push_back('\0');
  }
  return h;
}

// A planner walks the tree ahead, counting keys and values, and cuts it into parts of about
// RegTreeOptions::partWeight; workers take the parts in file order and fill chunks; the caller
// hands the chunks of the earliest unfinished part to `out`. Only a bounded number of chunks wait,
// and the earliest part's writer never does, so a part always moves.
Part whole(const RegTreeTop& top, std::size_t index) {
  Part p;
  p.top = index;
  p.header = true;
  p.start = {Frame{top.key, 0, top.key->children.size()}};
  return p;
}

class Pipeline {
 public:
  Pipeline(const std::vector<RegTreeTop>& tops, const RegTreeOptions& o, unsigned threads)
      : tops_(tops), options_(o), limit_(2 * threads + 2), ahead_(threads + 1) {
    if (threads > 1) {
      planner_ = std::thread([this] { plan(); });
    } else {  // one thread writes each top whole, nothing to cut
      for (std::size_t t = 0; t < tops.size(); ++t) parts_.push_back(whole(tops[t], t));
      planned_ = true;
    }
    for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { work(); });
  }
  ~Pipeline() {
    {
      std::lock_guard<std::mutex> l(m_);
      stop_ = true;
    }
    cv_.notify_all();
    if (planner_.joinable()) planner_.join();
    for (std::thread& t : workers_) t.join();
  }

  Outcome drain(const std::function<bool(const char*, std::size_t)>& out) {
    std::unique_lock<std::mutex> l(m_);
    for (std::size_t head = 0;;) {
      cv_.wait(l, [&] { return head < parts_.size() || planned_; });
      if (head == parts_.size()) return planFailed_ ? outOfMemory() : Outcome();
      Part& p = parts_[head];
      cv_.wait(l, [&] { return !p.chunks.empty() || p.done; });
      if (p.chunks.empty()) {
        if (!p.result) return p.result;
        head_ = ++head;
        cv_.notify_all();
        continue;
      }
      Buffer b = std::move(p.chunks.front());
      p.chunks.pop_front();
      --waiting_;
      cv_.notify_all();
      l.unlock();
      bool ok = out(b.data(), b.size());
      b.clear();
      l.lock();
      pool_.push_back(std::move(b));
      if (!ok) return writeFailed();
    }
  }

 private:
  // The planner stays a few parts ahead of the workers: the keys it has just walked are still
  // in the cache when they are written.
  void publish(Part&& p) {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return stop_ || parts_.size() < next_ + ahead_; });
    parts_.push_back(std::move(p));
    cv_.notify_all();
  }

  void plan() {
    bool ok = true;
    try {
      walk();
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    std::lock_guard<std::mutex> l(m_);
    planned_ = true;
    planFailed_ = !ok;
    cv_.notify_all();
  }

  void walk() {
    for (std::size_t t = 0; t < tops_.size(); ++t) {
      const Key& top = *tops_[t].key;
      Part part;
      part.top = t;
      part.header = true;
      std::vector<Frame> frames{Frame{&top, 0, top.children.size()}};
      part.start = frames;
      std::size_t weight = ownWeight(top);
      while (!frames.empty()) {
        Frame& f = frames.back();
        if (f.next == f.end) {
          frames.pop_back();
          continue;
        }
        const Key& c = *f.key->children[f.next];
        prefetchSibling(*f.key, f.next + 4);
        if (weight >= std::max<std::size_t>(options_.partWeight, 1)) {
          part.stop = &c;
          publish(std::move(part));
          part = Part();
          part.top = t;
          part.start = frames;
          weight = 0;
          if (stopped()) return;
        }
        ++f.next;
        weight += ownWeight(c);
        if (!c.children.empty()) frames.push_back(Frame{&c, 0, c.children.size()});
      }
      publish(std::move(part));
    }
  }

  bool stopped() {
    std::lock_guard<std::mutex> l(m_);
    return stop_;
  }

  static std::size_t ownWeight(const Key& k) { return 1 + k.values.size(); }

  // Hands a filled buffer to its part; false once stopped.
  bool hand(std::size_t i, Buffer& buf, bool last) {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return stop_ || i == head_ || waiting_ < limit_; });
    if (stop_) return false;
    if (buf.size()) {
      parts_[i].chunks.push_back(std::move(buf));
      ++waiting_;
      buf = fresh();
    }
    if (last) parts_[i].done = true;
    cv_.notify_all();
    return true;
  }

  Buffer fresh() {  // under the lock
    if (pool_.empty()) return Buffer();
    Buffer b = std::move(pool_.back());
    pool_.pop_back();
    return b;
  }

  void work() {
    Buffer buf;
    std::size_t i = 0;
    std::function<bool(Buffer&)> emit = [&](Buffer& b) { return hand(i, b, false); };
    Writer w(options_.chunkBytes, emit);
    for (;;) {
      const Part* part = nullptr;
      {
        std::unique_lock<std::mutex> l(m_);
        cv_.wait(l, [&] { return stop_ || next_ < parts_.size() || planned_; });
        if (stop_ || next_ == parts_.size()) return;
        i = next_++;
        part = &parts_[i];  // a deque keeps its elements where they are
        cv_.notify_all();   // the planner may go on
      }
      Outcome r;
      try {
        r = w.run(tops_[part->top], *part, buf);
        if (r && !hand(i, buf, true)) r = writeFailed();
      } catch (const std::bad_alloc&) {
        r = outOfMemory();
      }
      if (!r) {
        buf.clear();
        std::lock_guard<std::mutex> l(m_);
        parts_[i].result = std::move(r);
        parts_[i].done = true;
        cv_.notify_all();
      }
    }
  }

  const std::vector<RegTreeTop>& tops_;
  const RegTreeOptions& options_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Part> parts_;
  std::vector<Buffer> pool_;
  std::size_t head_ = 0, next_ = 0, waiting_ = 0;
  const std::size_t limit_, ahead_;
  bool planned_ = false, planFailed_ = false, stop_ = false;
  std::thread planner_;
  std::vector<std::thread> workers_;
};

}  // namespace

Outcome writeRegTree(const std::vector<RegTreeTop>& tops,
                     const std::function<bool(const char*, std::size_t)>& out,
                     const RegTreeOptions& options) {
  const std::string head = header();
  if (!out(head.data(), head.size())) return writeFailed();
  int threads = options.threads;
  if (threads < 0)  // one core writes, the others serialise
    threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()) - 1, 1, 4);
  if (threads == 0) {
    Buffer buf;
    std::function<bool(Buffer&)> emit = [&](Buffer& b) {
      bool ok = b.size() == 0 || out(b.data(), b.size());
      b.clear();
      return ok;
    };
    Writer w(options.chunkBytes, emit);
    for (const RegTreeTop& top : tops)
      if (Outcome r = w.run(top, whole(top, 0), buf); !r) return r;
    return emit(buf) ? Outcome() : writeFailed();
  }
  Pipeline pipeline(tops, options, static_cast<unsigned>(threads));
  return pipeline.drain(out);
}

Outcome unwritableKeyName(std::string_view path) {
  std::string shown;
  for (char c : path) {
    if (c == '\r')
      shown += "<CR>";
    else if (c == '\n')
      shown += "<LF>";
    else
      shown += c;
  }
  return Outcome::fail(
      fmt::format("the key {} has a line break in its name, which no .reg file can hold", shown),
      Status::InvalidName);
}

}  // namespace brisquell
