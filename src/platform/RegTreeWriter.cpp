// Each root starts as one task. A worker that sees another one idle hands it the later half of
// the children it has left at its shallowest level, and goes on in a new part after that run;
// the parts form one list in file order. The caller hands the chunks of the earliest unfinished
// part to `out`; only a bounded number of chunks wait, the earliest part's writer never does.
#include "platform/RegTreeWriter.h"

#include <algorithm>
#include <atomic>
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

// UTF-8 text as UTF-16LE; at most 4 bytes per input byte. Ill-formed runs convert as the
// UTF-8 writer's text would (U+FFFD). Quoted text escapes "\\" and "\""; names also CR and LF.
char* text16(char* o, std::string_view s, bool quoted, Bytes& scratch) {
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
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
char* string16(char* o, const Bytes& d) {
  const std::size_t size = d.size();
  if (size < 2 || size % 2 || d[size - 1] || d[size - 2]) return nullptr;
  const std::uint8_t* p = d.data();
  const std::size_t n = size / 2 - 1;
  for (std::size_t k = 0; k < n; ++k) {
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

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

Outcome unwritableName(std::string_view path) {
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

Outcome writeFailed() {
  return Outcome::fail("the export could not be written", Status::WriteFault);
}

// A run of the file in order. A task part names what to write (the key's own lines when
// `header`, then its children [begin, end) whole); a worker that hands work over also opens a
// part without a task of its own, for what it writes after the handed-over run.
struct Part {
  const Key* key = nullptr;
  std::string path;
  bool header = false;
  std::size_t begin = 0, end = 0;
  std::deque<Buffer> chunks;
  bool done = false;
  Outcome result;
  Part* next = nullptr;
};

// Where the writer is in the tree: a key whose children [next, end) are still to be written.
struct Frame {
  const Key* key;
  std::size_t next, end;
  std::size_t len8, len16;  // the key's path
  Part* resume;             // where the writing goes on once this key is done, when handed over
};

class Pipeline;

// Serialises one task part, walking the tree with an explicit stack so that the later half of
// a key's remaining children can be handed to an idle thread at any point.
class Writer {
 public:
  Writer(std::size_t chunkBytes, const std::function<bool(Buffer&)>& emit, Pipeline* pipeline)
      : chunk_(chunkBytes), emit_(emit), pipeline_(pipeline) {}

  Outcome run(Part& task, Buffer& buf);
  Part* current() const { return current_; }

  // Hands the later half of the remaining children of the shallowest key that has two or more
  // left to `give`. Shallowest first: a key deeper than one handed over before always ends
  // before it, so what is handed over now goes right after the part being written.
  template <class Give>
  bool split(Give give) {
    for (Frame& f : frames_) {
      if (f.end - f.next < 2) continue;
      const std::size_t mid = f.next + (f.end - f.next) / 2;
      give(*f.key, path8_.substr(0, f.len8), mid, f.end, f);
      f.end = mid;
      return true;
    }
    return false;
  }

 private:
  bool ready() { return buf_->size() < chunk_ || emit_(*buf_); }

  void keyLines(const Key& k) {
    char* o = buf_->room(path16_.size() + 12);
    o = unit(o, '[');
    std::memcpy(o, path16_.data(), path16_.size());
    o = ascii(o + path16_.size(), "]\r\n");
    buf_->setEnd(o);
    for (const Value& v : k.values) value(v);
    buf_->setEnd(ascii(buf_->room(4), "\r\n"));
  }

  void value(const Value& v) {
    const std::string& name = v.name;
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
      if (char* e = string16(unit(o, '"'), v.data)) {
        buf_->setEnd(ascii(e, "\"\r\n"));
        return;
      }
    }
    if (v.type == regtype::Dword && size == 4) {
      o = hexNumber(ascii(o, "dword:"), dwordOf(v.data), 8);
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

  bool handOverWanted() const;
  bool switchTo(Part* next);

  std::size_t chunk_;
  const std::function<bool(Buffer&)>& emit_;
  Pipeline* pipeline_;
  Part* current_ = nullptr;
  Buffer* buf_ = nullptr;
  Buffer path16_;
  std::string path8_;
  Bytes scratch_;
  std::vector<Frame> frames_;
};

std::string header() {
  std::string h("\xFF\xFE", 2);
  for (char c : std::string_view("Windows Registry Editor Version 5.00\r\n\r\n")) {
    h.push_back(c);
    h.push_back('\0');
  }
  return h;
}

// Parts in file order, chunks filled by the workers and taken by the caller in part order; an
// idle worker gets the later half of what a busy one has left.
class Pipeline {
 public:
  Pipeline(const std::vector<Part*>& tasks, const RegTreeOptions& o, unsigned threads)
      : options_(o), limit_(2 * threads + 2) {
    Part* last = nullptr;
    for (Part* t : tasks) {
      if (!head_) head_ = t;
      if (last) last->next = t;
      last = t;
      todo_.push_back(t);
    }
    for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { work(); });
  }
  ~Pipeline() {
    {
      std::lock_guard<std::mutex> l(m_);
      stop_ = true;
    }
    cv_.notify_all();
    for (std::thread& t : workers_) t.join();
    for (Part* p : made_) delete p;
  }

  Outcome drain(const std::function<bool(const char*, std::size_t)>& out) {
    std::unique_lock<std::mutex> l(m_);
    while (head_) {
      cv_.wait(l, [&] { return !head_->chunks.empty() || head_->done; });
      if (head_->chunks.empty()) {
        if (!head_->result) return head_->result;
        head_ = head_->next;
        cv_.notify_all();
        continue;
      }
      Buffer b = std::move(head_->chunks.front());
      head_->chunks.pop_front();
      --waiting_;
      cv_.notify_all();
      l.unlock();
      bool ok = out(b.data(), b.size());
      b.clear();
      l.lock();
      pool_.push_back(std::move(b));
      if (!ok) return writeFailed();
    }
    return {};
  }

  bool wanted() const { return idle_.load(std::memory_order_relaxed) > 0; }

  // Called by a writer that saw an idle worker: hands it the later half of some key's children.
  void handOver(Writer& w) {
    std::lock_guard<std::mutex> l(m_);
    if (stop_ || todo_.size() >= idle_.load()) return;
    w.split([&](const Key& key, std::string path, std::size_t mid, std::size_t end, Frame& f) {
      Part* q = make();
      q->key = &key;
      q->path = std::move(path);
      q->begin = mid;
      q->end = end;
      after(w.current(), q);
      if (!f.resume) {
        f.resume = make();
        after(q, f.resume);
      }
      todo_.push_back(q);
    });
    cv_.notify_all();
  }

  // Hands a filled buffer to its part (and ends the part when `last`); false once stopped.
  bool finish(Part& p, Buffer& buf, bool last) {
    std::unique_lock<std::mutex> l(m_);
    // The part the caller waits for never waits itself.
    cv_.wait(l, [&] { return stop_ || &p == head_ || waiting_ < limit_; });
    if (stop_) return false;
    if (buf.size()) {
      p.chunks.push_back(std::move(buf));
      ++waiting_;
      buf = fresh();
    }
    if (last) p.done = true;
    cv_.notify_all();
    return true;
  }

  void failed(Part& p, Outcome r) {
    std::lock_guard<std::mutex> l(m_);
    p.result = std::move(r);
    p.done = true;
    cv_.notify_all();
  }

 private:
  Part* make() {  // under the lock
    made_.push_back(new Part());
    return made_.back();
  }
  static void after(Part* p, Part* q) {
    q->next = p->next;
    p->next = q;
  }
  Buffer fresh() {  // under the lock
    if (pool_.empty()) return Buffer();
    Buffer b = std::move(pool_.back());
    pool_.pop_back();
    return b;
  }

  void work() {
    Buffer buf;
    Writer* writer = nullptr;
    std::function<bool(Buffer&)> emit = [&](Buffer& b) {
      return finish(*writer->current(), b, false);
    };
    for (;;) {
      Part* task = nullptr;
      {
        std::unique_lock<std::mutex> l(m_);
        ++idle_;
        cv_.wait(l, [&] { return stop_ || !todo_.empty() || busy_ == 0; });
        --idle_;
        if (stop_ || todo_.empty()) {
          cv_.notify_all();
          return;
        }
        task = todo_.front();
        todo_.pop_front();
        ++busy_;
      }
      Writer w(options_.chunkBytes, emit, this);
      writer = &w;
      Outcome r;
      try {
        r = w.run(*task, buf);
        if (r && !finish(*w.current(), buf, true)) r = writeFailed();
      } catch (const std::bad_alloc&) {
        r = Outcome::fail("the export could not be written (out of memory)", Status::WriteFault);
      }
      if (!r) {
        buf.clear();
        failed(*w.current(), std::move(r));
      }
      std::lock_guard<std::mutex> l(m_);
      --busy_;
      cv_.notify_all();
    }
  }

  const RegTreeOptions& options_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Part*> todo_;
  std::vector<Part*> made_;
  std::vector<Buffer> pool_;
  Part* head_ = nullptr;
  std::size_t waiting_ = 0, busy_ = 0;
  std::atomic<std::size_t> idle_{0};
  const std::size_t limit_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

bool Writer::handOverWanted() const { return pipeline_ && pipeline_->wanted(); }

bool Writer::switchTo(Part* next) {
  if (!pipeline_->finish(*current_, *buf_, true)) return false;
  current_ = next;
  return true;
}

Outcome Writer::run(Part& task, Buffer& buf) {
  buf_ = &buf;
  current_ = &task;
  path8_ = task.path;
  if (hasLineBreak(path8_)) return unwritableName(path8_);
  path16_.clear();
  path16_.setEnd(text16(path16_.room(4 * path8_.size()), path8_, false, scratch_));
  if (task.header) {
    keyLines(*task.key);
    if (!ready()) return writeFailed();
  }
  frames_.clear();
  frames_.push_back(Frame{task.key, task.begin, task.end, path8_.size(), path16_.size(), nullptr});
  while (!frames_.empty()) {
    if (handOverWanted()) pipeline_->handOver(*this);
    Frame& f = frames_.back();
    if (f.next == f.end) {
      Part* resume = f.resume;
      frames_.pop_back();
      if (resume && !switchTo(resume)) return writeFailed();
      continue;
    }
    const Key& c = *f.key->children[f.next++];
    path8_.resize(f.len8);
    path16_.truncate(f.len16);
    path8_.push_back('\\');
    path8_ += c.name;
    if (hasLineBreak(c.name)) return unwritableName(path8_);
    path16_.setEnd(
        text16(unit(path16_.room(2 + 4 * c.name.size()), '\\'), c.name, false, scratch_));
    keyLines(c);
    if (!ready()) return writeFailed();
    if (!c.children.empty())
      frames_.push_back(Frame{&c, 0, c.children.size(), path8_.size(), path16_.size(), nullptr});
  }
  return {};
}

}  // namespace

Outcome writeRegTree(const std::vector<RegTreeTop>& tops,
                     const std::function<bool(const char*, std::size_t)>& out,
                     const RegTreeOptions& options) {
  const std::string head = header();
  if (!out(head.data(), head.size())) return writeFailed();
  std::vector<Part> tasks(tops.size());
  std::vector<Part*> order;
  for (std::size_t i = 0; i < tops.size(); ++i) {
    tasks[i].key = tops[i].key;
    tasks[i].path = tops[i].path;
    tasks[i].header = true;
    tasks[i].end = tops[i].key->children.size();
    order.push_back(&tasks[i]);
  }
  unsigned threads = options.threads;
  if (threads == 0) threads = std::min(std::max(std::thread::hardware_concurrency(), 1u), 4u);
  if (threads < 2) {
    Buffer buf;
    std::function<bool(Buffer&)> emit = [&](Buffer& b) {
      bool ok = b.size() == 0 || out(b.data(), b.size());
      b.clear();
      return ok;
    };
    Writer w(options.chunkBytes, emit, nullptr);
    for (Part& t : tasks)
      if (Outcome r = w.run(t, buf); !r) return r;
    return emit(buf) ? Outcome() : writeFailed();
  }
  Pipeline pipeline(order, options, threads);
  return pipeline.drain(out);
}

}  // namespace brisquell
