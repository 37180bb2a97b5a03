// The tree is cut into parts (a key's own lines, or a run of whole sibling subtrees) of about
// the same weight; worker threads take parts in file order and fill chunks, the caller hands
// the chunks of the earliest unfinished part to `out`. Only a bounded number of chunks wait.
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
#include <unordered_map>

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

// One piece of work: the key's own lines when `header`, then children [begin, end) whole.
struct Part {
  const Key* key = nullptr;
  std::string path;
  bool header = false;
  std::size_t begin = 0, end = 0;
  std::size_t weight = 0;
};

std::size_t ownWeight(const Key& k) { return 1 + k.values.size(); }

// Subtree weights. A key heavier than one part is cut; for such keys the weights of their
// children are kept, the lighter children are written whole.
using Heavy = std::unordered_map<const Key*, std::vector<std::size_t>>;

std::size_t weigh(const Key& k, std::size_t limit, std::vector<std::size_t>& stack, Heavy& heavy) {
  std::size_t w = ownWeight(k);
  const std::size_t base = stack.size();
  for (const auto& c : k.children) {
    std::size_t cw = weigh(*c, limit, stack, heavy);
    stack.push_back(cw);
    w += cw;
  }
  if (w > limit)
    heavy.emplace(&k, std::vector<std::size_t>(stack.begin() + static_cast<std::ptrdiff_t>(base),
                                               stack.end()));
  stack.resize(base);
  return w;
}

void cut(const Key& k, const std::string& path, std::size_t limit, const Heavy& heavy,
         std::vector<Part>& parts) {
  auto it = heavy.find(&k);
  if (it == heavy.end()) {
    parts.push_back(Part{&k, path, true, 0, k.children.size(), 0});
    return;
  }
  const std::vector<std::size_t>& weights = it->second;
  parts.push_back(Part{&k, path, true, 0, 0, ownWeight(k)});
  bool open = true;  // the last part may take more of k's children
  for (std::size_t i = 0; i < k.children.size(); ++i) {
    const Key& c = *k.children[i];
    if (heavy.count(&c)) {
      cut(c, path + "\\" + c.name, limit, heavy, parts);
      open = false;
      continue;
    }
    if (!open || parts.back().weight + weights[i] > limit) {
      parts.push_back(Part{&k, path, false, i, i, 0});
      open = true;
    }
    parts.back().end = i + 1;
    parts.back().weight += weights[i];
  }
}

using Sink = std::function<bool(Buffer&, bool last)>;

// Serialises parts into a buffer, handing it to the sink at key ends once it is full enough.
class Writer {
 public:
  Writer(std::size_t chunkBytes, const Sink& sink) : chunk_(chunkBytes), sink_(sink) {}

  Outcome part(const Part& p, Buffer& buf) {
    buf_ = &buf;
    path8_ = p.path;
    if (hasLineBreak(path8_)) return unwritableName(path8_);
    path16_.clear();
    path16_.setEnd(text16(path16_.room(4 * path8_.size()), path8_, false, scratch_));
    if (p.header) {
      keyLines(*p.key);
      if (!ready()) return writeFailed();
    }
    for (std::size_t i = p.begin; i < p.end; ++i)
      if (Outcome r = child(*p.key->children[i]); !r) return r;
    return {};
  }

 private:
  bool ready() { return buf_->size() < chunk_ || sink_(*buf_, false); }

  void keyLines(const Key& k) {
    char* o = buf_->room(path16_.size() + 12);
    o = unit(o, '[');
    std::memcpy(o, path16_.data(), path16_.size());
    o = ascii(o + path16_.size(), "]\r\n");
    buf_->setEnd(o);
    for (const Value& v : k.values) value(v);
    buf_->setEnd(ascii(buf_->room(4), "\r\n"));
  }

  Outcome child(const Key& c) {
    const std::size_t len8 = path8_.size(), len16 = path16_.size();
    path8_.push_back('\\');
    path8_ += c.name;
    if (hasLineBreak(c.name)) return unwritableName(path8_);
    char* o = unit(path16_.room(2 + 4 * c.name.size()), '\\');
    path16_.setEnd(text16(o, c.name, false, scratch_));
    Outcome r = subtree(c);
    path8_.resize(len8);
    path16_.truncate(len16);
    return r;
  }

  Outcome subtree(const Key& k) {
    keyLines(k);
    if (!ready()) return writeFailed();
    for (const auto& c : k.children)
      if (Outcome r = child(*c); !r) return r;
    return {};
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

  std::size_t chunk_;
  const Sink& sink_;
  Buffer* buf_ = nullptr;
  Buffer path16_;
  std::string path8_;
  Bytes scratch_;
};

std::string header() {
  std::string h("\xFF\xFE", 2);
  for (char c : std::string_view("Windows Registry Editor Version 5.00\r\n\r\n")) {
    h.push_back(c);
    h.push_back('\0');
  }
  return h;
}

Outcome runInTurn(const std::vector<Part>& parts, const RegTreeOptions& o,
                  const std::function<bool(const char*, std::size_t)>& out) {
  Buffer buf;
  Sink sink = [&](Buffer& b, bool) {
    bool ok = b.size() == 0 || out(b.data(), b.size());
    b.clear();
    return ok;
  };
  Writer w(o.chunkBytes, sink);
  for (const Part& p : parts)
    if (Outcome r = w.part(p, buf); !r) return r;
  return sink(buf, true) ? Outcome() : writeFailed();
}

// Chunks of the parts, filled by the workers and taken by the caller in part order.
class Pipeline {
 public:
  Pipeline(const std::vector<Part>& parts, const RegTreeOptions& o, unsigned threads)
      : parts_(parts),
        options_(o),
        chunks_(parts.size()),
        done_(parts.size(), false),
        results_(parts.size()),
        limit_(2 * threads + 2) {
    for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { work(); });
  }
  ~Pipeline() {
    {
      std::lock_guard<std::mutex> l(m_);
      stop_ = true;
    }
    cv_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  Outcome drain(const std::function<bool(const char*, std::size_t)>& out) {
    std::unique_lock<std::mutex> l(m_);
    while (head_ < parts_.size()) {
      cv_.wait(l, [&] { return !chunks_[head_].empty() || done_[head_]; });
      if (chunks_[head_].empty()) {
        if (!results_[head_]) return results_[head_];
        ++head_;
        cv_.notify_all();
        continue;
      }
      Buffer b = std::move(chunks_[head_].front());
      chunks_[head_].pop_front();
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

 private:
  Buffer fresh() {  // under the lock
    if (pool_.empty()) return Buffer();
    Buffer b = std::move(pool_.back());
    pool_.pop_back();
    return b;
  }

  void work() {
    for (;;) {
      const std::size_t i = next_.fetch_add(1);
      if (i >= parts_.size()) return;
      Buffer buf;
      {
        std::lock_guard<std::mutex> l(m_);
        if (stop_) return;
        buf = fresh();
      }
      Sink sink = [&](Buffer& b, bool last) {
        std::unique_lock<std::mutex> l(m_);
        // The part the caller waits for never waits itself.
        cv_.wait(l, [&] { return stop_ || i == head_ || waiting_ < limit_; });
        if (stop_) return false;
        if (b.size()) {
          chunks_[i].push_back(std::move(b));
          ++waiting_;
          if (!last) b = fresh();
        }
        cv_.notify_all();
        return true;
      };
      Outcome r;
      try {
        Writer w(options_.chunkBytes, sink);
        r = w.part(parts_[i], buf);
        if (r && !sink(buf, true)) r = writeFailed();
      } catch (const std::bad_alloc&) {
        r = Outcome::fail("the export could not be written (out of memory)", Status::WriteFault);
      }
      std::lock_guard<std::mutex> l(m_);
      results_[i] = std::move(r);
      done_[i] = true;
      cv_.notify_all();
    }
  }

  const std::vector<Part>& parts_;
  const RegTreeOptions& options_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::deque<Buffer>> chunks_;
  std::vector<bool> done_;
  std::vector<Outcome> results_;
  std::vector<Buffer> pool_;
  std::size_t head_ = 0, waiting_ = 0;
  const std::size_t limit_;
  bool stop_ = false;
  std::atomic<std::size_t> next_{0};
  std::vector<std::thread> workers_;
};

}  // namespace

Outcome writeRegTree(const std::vector<RegTreeTop>& tops,
                     const std::function<bool(const char*, std::size_t)>& out,
                     const RegTreeOptions& options) {
  const std::string head = header();
  if (!out(head.data(), head.size())) return writeFailed();
  const std::size_t limit = std::max<std::size_t>(options.partWeight, 1);
  std::vector<Part> parts;
  Heavy heavy;
  std::vector<std::size_t> stack;
  std::size_t total = 0;
  for (const RegTreeTop& t : tops) {
    total += weigh(*t.key, limit, stack, heavy);
    cut(*t.key, t.path, limit, heavy, parts);
  }
  unsigned threads = options.threads;
  if (threads == 0) threads = std::min(std::max(std::thread::hardware_concurrency(), 1u), 4u);
  if (threads < 2 || parts.size() < 2 || total <= limit) return runInTurn(parts, options, out);
  Pipeline pipeline(parts, options, threads);
  return pipeline.drain(out);
}

}  // namespace brisquell
