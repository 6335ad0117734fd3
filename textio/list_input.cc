#include "textio/list_input.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "textio/plain_reals.h"
#include "textio/termination.h"

namespace korvelan::textio {
namespace {

// The buffer starts small (a console answer is a few bytes) and doubles
// while reads fill it, up to chunks of kChunk for the data files; it grows
// beyond that only for a token longer than a chunk.
constexpr std::size_t kFirstChunk = 4096;
constexpr std::size_t kChunk = 1 << 20;
// The plain-text path reads blocks of up to this many bytes per thread
// (the buffer doubles up to it, so that short data never get a large
// buffer). A piece this size and the values scanned from it stay in a
// core's own cache from the read to the store; larger pieces were slower
// by a tenth, as the scan then fetched every byte from further away.
constexpr std::size_t kBlock = 256 << 10;

enum CharClass : unsigned char {
  kCharOrdinary,
  kCharBlank,  // blank, tab
  kCharComma,
  kCharSlash,
  kCharNewline,  // LF: the end of a record
  kCharReturn,   // CR: ends a record only right before LF
};

constexpr std::array<unsigned char, 256> MakeClasses() {
  std::array<unsigned char, 256> c{};
  c[static_cast<unsigned char>(' ')] = kCharBlank;
  c[static_cast<unsigned char>('\t')] = kCharBlank;
  c[static_cast<unsigned char>(',')] = kCharComma;
  c[static_cast<unsigned char>('/')] = kCharSlash;
  c[static_cast<unsigned char>('\n')] = kCharNewline;
  c[static_cast<unsigned char>('\r')] = kCharReturn;
  return c;
}
constexpr std::array<unsigned char, 256> kClasses = MakeClasses();

unsigned char ClassOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, -1);
        continue;
      }
      // A device error ends the data: the statement then fails with the
      // end-of-file condition, the nearest the catalog offers.
      return 0;
    }
  }

 private:
  int fd_;
};

class StrSource : public ByteSource {
 public:
  StrSource(std::string bytes, std::size_t max_read)
      : bytes_(std::move(bytes)), max_read_(max_read == 0 ? 1 : max_read) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, max_read_, bytes_.size() - pos_});
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::string bytes_;
  std::size_t max_read_;
  std::size_t pos_ = 0;
};

// Helper threads for the blocks of one statement: Run(n, task) calls
// task(0 .. n-1), task 0 on the calling thread, task k on helper k (the
// caller takes those beyond the helpers the system granted), and returns
// when all are done. The helpers wait on a condition variable between
// blocks; nothing spins. Tasks throw nothing.
class Crew {
 public:
  explicit Crew(unsigned helpers) {
    for (unsigned k = 1; k <= helpers; ++k) {
      try {
        threads_.emplace_back([this, k] { Loop(k); });
      } catch (const std::system_error&) {
        break;  // fewer helpers; the caller does their share
      }
    }
  }
  ~Crew() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
  }
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;

  template <class Task>
  void Run(std::size_t n, const Task& task) {
    const std::size_t helpers = threads_.size();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      object_ = &task;
      call_ = [](const void* t, std::size_t k) { (*static_cast<const Task*>(t))(k); };
      count_ = n;
      pending_ = n > 1 ? std::min(helpers, n - 1) : 0;
      ++generation_;
    }
    wake_.notify_all();
    if (n > 0) task(0);
    for (std::size_t k = helpers + 1; k < n; ++k) task(k);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
  }

 private:
  void Loop(std::size_t k) {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      if (k >= count_) continue;
      const void* object = object_;
      void (*call)(const void*, std::size_t) = call_;
      lock.unlock();
      call(object, k);
      lock.lock();
      if (--pending_ == 0) done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const void* object_ = nullptr;
  void (*call_)(const void*, std::size_t) = nullptr;
  std::size_t count_ = 0;
  std::size_t pending_ = 0;
  std::uint64_t generation_ = 0;
  bool stopping_ = false;
  std::vector<std::jthread> threads_;  // last: joined before the rest goes
};

// What a value token turned out to be.
struct Value {
  enum Kind { kLogical, kInteger, kReal } kind;  // kInteger: no point, no exponent
  bool truth = false;
};

}  // namespace

std::unique_ptr<ByteSource> FileDescriptorSource(int fd) { return std::make_unique<FdSource>(fd); }

std::unique_ptr<ByteSource> StringSource(std::string bytes, std::size_t max_read) {
  return std::make_unique<StrSource>(std::move(bytes), max_read);
}

class ListReader::Impl {
 public:
  Impl(std::unique_ptr<ByteSource> source, int unit, std::string name)
      : source_(std::move(source)), unit_(unit), name_(std::move(name)), buf_(kFirstChunk) {}

  // One input statement over `count` targets: convert(b, e) turns a value
  // token into the target type, store(i, v) puts it in target i.
  template <class Convert, class Store>
  void Run(std::size_t count, Convert convert, Store store) {
    Begin();
    Continue(0, count, convert, store);
  }

  // The rest of a statement from target i on.
  template <class Convert, class Store>
  void Continue(std::size_t i, std::size_t count, Convert convert, Store store) {
    while (i < count) {
      const Item item = NextItem();
      if (item.kind == Item::kSlash) break;
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(item.repeat, count - i));
      if (item.kind == Item::kValue) {
        const auto v = convert(item.begin, item.end);
        for (std::size_t k = i; k < i + n; ++k) store(k, v);
      }
      i += n;
    }
  }

  // A real statement through the plain-text path first.
  void RunPlainFirst(std::size_t count, RealSink& sink, unsigned threads) {
    Begin();
    const std::size_t done = Plain(count, sink, threads);
    Continue(
        done, count, [this](const char* b, const char* e) { return ToFloat(b, e); },
        [&sink](std::size_t i, float v) { sink.Put(i, v); });
  }

  // The plain-text path of a real statement that has begun: returns how
  // many of the `count` targets it filled. It leaves pos_ where the general
  // reader goes on: after the last value's token, or in front of the first
  // token or separator that is not plain, or at a block's end it could not
  // cut (a token not yet complete, the last one of the data).
  std::size_t Plain(std::size_t count, RealSink& sink, unsigned threads) {
    std::size_t done = 0;
    Crew crew(threads > 1 ? threads - 1 : 0);
    const std::size_t np = std::max(1u, threads);
    while (done < count) {
      FillBlock(kBlock * np);
      const char* b = buf_.data() + pos_;
      const char* e = buf_.data() + end_;
      // Up to the last separator that ends a token for sure.
      const char* usable = e;
      while (usable != b && !EndsPiece(usable[-1])) --usable;
      if (usable == b) break;
      const std::size_t remaining = count - done;
      // Pieces cut after a separator; each scans into its own part of
      // floats_, room for one value per two bytes.
      std::vector<const char*> cut(np + 1);
      std::vector<std::size_t> room(np + 1, 0);
      cut[0] = b;
      for (std::size_t k = 1; k < np; ++k) {
        const char* c = std::max(cut[k - 1], b + static_cast<std::size_t>(usable - b) * k / np);
        while (c != b && c != usable && !EndsPiece(c[-1])) ++c;
        cut[k] = c;
      }
      cut[np] = usable;
      for (std::size_t k = 0; k < np; ++k) {
        room[k + 1] = room[k] + static_cast<std::size_t>(cut[k + 1] - cut[k] + 1) / 2;
      }
      if (floats_.size() < room[np]) floats_.resize(room[np]);
      std::vector<PlainScan> scans(np);
      crew.Run(np, [&](std::size_t k) {
        scans[k] = ScanPlainReals(cut[k], cut[k + 1], remaining, floats_.data() + room[k]);
      });
      // In order: whole pieces while they are plain and the list needs
      // them; the piece that fills the list is scanned again to its exact
      // last value.
      std::vector<std::size_t> first(np + 1, done);
      std::size_t taken = 0;  // pieces taken
      const char* stop = usable;
      for (std::size_t k = 0; k < np; ++k) {
        const std::size_t need = count - first[k];
        if (scans[k].values >= need) {
          scans[k] = ScanPlainReals(cut[k], cut[k + 1], need, floats_.data() + room[k]);
        }
        first[k + 1] = first[k] + scans[k].values;
        taken = k + 1;
        if (scans[k].stop != cut[k + 1] || first[k + 1] == count) {
          stop = scans[k].stop;
          break;
        }
      }
      crew.Run(taken, [&](std::size_t k) {
        sink.PutRange(first[k], std::span<const float>(floats_.data() + room[k], scans[k].values));
      });
      if (first[taken] > done) after_value_ = true;
      done = first[taken];
      pos_ = static_cast<std::size_t>(stop - buf_.data());
      if (stop != usable) break;  // not plain, or the list is full
    }
    return done;
  }

  std::int32_t ToInteger(const char* b, const char* e) const {
    const Value v = Classify(b, e);
    if (v.kind == Value::kLogical) return v.truth ? -1 : 0;
    if (v.kind == Value::kInteger) {
      bool negative = false;
      if (*b == '+' || *b == '-') negative = *b++ == '-';
      const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
      std::uint64_t n = 0;
      for (; b != e; ++b) {
        n = n * 10 + static_cast<std::uint64_t>(*b - '0');
        if (n > limit) Fail(Severe::kConversion);
      }
      return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(n))
                      : static_cast<std::int32_t>(n);
    }
    // With a point or an exponent: a double, truncated toward zero.
    const double d = std::trunc(ToDouble(b, e));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) Fail(Severe::kConversion);
    return static_cast<std::int32_t>(d);
  }

  float ToFloat(const char* b, const char* e) const {
    // Fast path for the common token: from_chars reads it whole, and it
    // begins and ends so that it cannot be a word such as "-inf" or "nan".
    // Everything from_chars takes whole under those conditions is a number
    // of the token grammar.
    const char first = *b;
    const char last = e[-1];
    if ((IsDigit(first) || first == '-' || first == '.') && (IsDigit(last) || last == '.')) {
      float f = 0;
      const auto r = std::from_chars(b, e, f);
      if (r.ec == std::errc() && r.ptr == e) return f;
    }
    const Value v = Classify(b, e);
    if (v.kind == Value::kLogical) return v.truth ? -1.0f : 0.0f;
    Normalised n(b, e);
    float f = 0;
    // Straight to the nearest float: going through double would round twice.
    const auto r = std::from_chars(n.begin(), n.end(), f);
    if (r.ec == std::errc::result_out_of_range) {
      // Overflow or underflow; strtof tells them apart and gives the
      // correctly rounded subnormal or zero for the latter.
      f = std::strtof(n.c_str(), nullptr);
      if (std::isinf(f)) Fail(Severe::kConversion);
    } else if (r.ec != std::errc() || r.ptr != n.end()) {
      Fail(Severe::kSyntax);
    }
    return f;
  }

 private:
  struct Item {
    enum Kind { kValue, kNull, kSlash } kind;
    std::uint64_t repeat = 1;
    const char* begin = nullptr;  // the value token, for kValue
    const char* end = nullptr;
  };

  // A number token as from_chars takes it: no leading '+', exponent letter
  // 'e'. Short tokens are copied on the stack.
  class Normalised {
   public:
    Normalised(const char* b, const char* e) {
      if (*b == '+') ++b;
      const std::size_t n = static_cast<std::size_t>(e - b);
      char* out;
      if (n < sizeof small_) {
        out = small_;
      } else {
        large_.resize(n + 1);
        out = large_.data();
      }
      for (std::size_t i = 0; i < n; ++i) {
        const char c = b[i];
        out[i] = (c == 'd' || c == 'D' || c == 'q' || c == 'Q' || c == 'E') ? 'e' : c;
      }
      out[n] = '\0';
      begin_ = out;
      end_ = out + n;
    }
    const char* begin() const { return begin_; }
    const char* end() const { return end_; }
    const char* c_str() const { return begin_; }

   private:
    char small_[64];
    std::vector<char> large_;
    const char* begin_;
    const char* end_;
  };

  [[noreturn]] void Fail(Severe n) const { throw Termination::SevereIo(n, unit_, name_); }

  // After these a piece of plain text may begin: no token runs across them.
  static bool EndsPiece(char c) { return c == ' ' || c == '\t' || c == '\n'; }

  // Moves the unread bytes to the front and reads until the buffer is full
  // or the data end; the buffer doubles on every block up to `block`.
  void FillBlock(std::size_t block) {
    if (pos_ > 0) {
      std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
      end_ -= pos_;
      pos_ = 0;
    }
    if (!eof_ && buf_.size() < block) buf_.resize(std::min(block, buf_.size() * 2));
    while (!eof_ && end_ < buf_.size()) {
      const std::size_t n = source_->Read(buf_.data() + end_, buf_.size() - end_);
      if (n == 0) {
        eof_ = true;
        break;
      }
      end_ += n;
    }
  }

  double ToDouble(const char* b, const char* e) const {
    Normalised n(b, e);
    double d = 0;
    const auto r = std::from_chars(n.begin(), n.end(), d);
    if (r.ec == std::errc::result_out_of_range) {
      d = std::strtod(n.c_str(), nullptr);
      if (std::isinf(d)) Fail(Severe::kConversion);
    } else if (r.ec != std::errc() || r.ptr != n.end()) {
      Fail(Severe::kSyntax);
    }
    return d;
  }

  // A logical token (T or F, either case, maybe after a period; the rest of
  // the token is free), or a number: optional sign, digits with at most one
  // point (at least one digit), optionally an exponent letter E, D or Q in
  // either case with an optionally signed, non-empty integer. Anything else
  // is the syntax error.
  Value Classify(const char* b, const char* e) const {
    const char* p = b;
    if (*p == '.' && p + 1 != e) ++p;
    if (*p == 'T' || *p == 't' || *p == 'F' || *p == 'f') {
      return Value{Value::kLogical, *p == 'T' || *p == 't'};
    }
    p = b;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    while (p != e && IsDigit(*p)) ++p, ++digits;
    bool integer = true;
    if (p != e && *p == '.') {
      integer = false;
      ++p;
      while (p != e && IsDigit(*p)) ++p, ++digits;
    }
    if (digits == 0) Fail(Severe::kSyntax);
    if (p != e) {
      const char c = *p;
      if (c != 'e' && c != 'E' && c != 'd' && c != 'D' && c != 'q' && c != 'Q') {
        Fail(Severe::kSyntax);
      }
      integer = false;
      ++p;
      if (p != e && (*p == '+' || *p == '-')) ++p;
      if (p == e || !IsDigit(*p)) Fail(Severe::kSyntax);
      while (p != e && IsDigit(*p)) ++p;
      if (p != e) Fail(Severe::kSyntax);
    }
    return Value{integer ? Value::kInteger : Value::kReal, false};
  }

  // Makes more bytes available after end_, keeping those from pos_ on (they
  // move to the start of the buffer). False at the end of the data.
  bool Refill() {
    if (eof_) return false;
    if (pos_ > 0) {
      std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
      end_ -= pos_;
      pos_ = 0;
    }
    if (end_ == buf_.size() || (last_read_filled_ && buf_.size() < kChunk)) {
      buf_.resize(buf_.size() * 2);
    }
    const std::size_t room = buf_.size() - end_;
    const std::size_t n = source_->Read(buf_.data() + end_, room);
    if (n == 0) {
      eof_ = true;
      return false;
    }
    last_read_filled_ = n == room;
    end_ += n;
    return true;
  }

  // The statement starts on a new record, and reads it at once.
  void Begin() {
    if (started_) SkipRestOfRecord();
    started_ = true;
    after_value_ = false;
    if (pos_ == end_ && !Refill()) Fail(Severe::kEndOfFile);
  }

  void SkipRestOfRecord() {
    for (;;) {
      const void* lf = std::memchr(buf_.data() + pos_, '\n', end_ - pos_);
      if (lf != nullptr) {
        pos_ = static_cast<std::size_t>(static_cast<const char*>(lf) - buf_.data()) + 1;
        return;
      }
      pos_ = end_;
      if (!Refill()) return;
    }
  }

  // Whether the CR at pos_ + offset stands right before an LF.
  bool ReturnEndsRecord(std::size_t offset) {
    if (pos_ + offset + 1 == end_ && !Refill()) return false;
    return buf_[pos_ + offset + 1] == '\n';
  }

  Item NextItem() {
    for (;;) {
      if (pos_ == end_ && !Refill()) Fail(Severe::kEndOfFile);
      const char c = buf_[pos_];
      switch (ClassOf(c)) {
        case kCharBlank: ++pos_; continue;
        case kCharNewline:
          ++pos_;
          // The next record must exist for the statement to go on.
          if (pos_ == end_ && !Refill()) Fail(Severe::kEndOfFile);
          continue;
        case kCharReturn:
          if (ReturnEndsRecord(0)) {
            ++pos_;
            continue;
          }
          return Token();
        case kCharComma:
          ++pos_;
          // A comma after a value (blanks and record ends between or not)
          // is only its separator; any other comma closes a null value.
          if (after_value_) {
            after_value_ = false;
            continue;
          }
          return Item{Item::kNull, 1};
        case kCharSlash: ++pos_; return Item{Item::kSlash, 0};
        default: return Token();
      }
    }
  }

  // A token at pos_, running to the next separator (which it leaves).
  Item Token() {
    std::size_t len = 0;
    for (;;) {
      if (pos_ + len == end_ && !Refill()) break;
      const unsigned char cls = ClassOf(buf_[pos_ + len]);
      if (cls == kCharOrdinary) {
        ++len;
        continue;
      }
      if (cls == kCharReturn && !ReturnEndsRecord(len)) {
        ++len;
        continue;
      }
      break;
    }
    const char* b = buf_.data() + pos_;
    const char* e = b + len;
    pos_ += len;
    after_value_ = true;

    // r*value and r*: an unsigned repeat count of at least 1.
    if (IsDigit(*b)) {
      const char* p = b;
      while (p != e && IsDigit(*p)) ++p;
      if (p != e && *p == '*') {
        std::uint64_t r = 0;
        for (const char* q = b; q != p; ++q) {
          r = r * 10 + static_cast<std::uint64_t>(*q - '0');
          if (r > 2147483647u) Fail(Severe::kConversion);
        }
        if (r == 0) Fail(Severe::kSyntax);
        if (p + 1 == e) return Item{Item::kNull, r};
        return Item{Item::kValue, r, p + 1, e};
      }
    }
    return Item{Item::kValue, 1, b, e};
  }

  std::unique_ptr<ByteSource> source_;
  int unit_;
  std::string name_;
  std::vector<char> buf_;
  std::size_t pos_ = 0;  // next byte to look at
  std::size_t end_ = 0;  // end of the bytes read so far
  bool eof_ = false;
  bool last_read_filled_ = false;
  bool started_ = false;       // a statement has read a record
  bool after_value_ = false;   // a value since the last separating comma
  std::vector<float> floats_;  // the plain-text path's values of a block
};

ListReader::ListReader(std::unique_ptr<ByteSource> source, int unit, std::string name)
    : impl_(std::make_unique<Impl>(std::move(source), unit, std::move(name))) {}

ListReader::~ListReader() = default;
ListReader::ListReader(ListReader&&) noexcept = default;
ListReader& ListReader::operator=(ListReader&&) noexcept = default;

void ListReader::ReadInteger(std::int32_t& target) {
  impl_->Run(
      1, [this](const char* b, const char* e) { return impl_->ToInteger(b, e); },
      [&target](std::size_t, std::int32_t v) { target = v; });
}

void ListReader::ReadReals(std::span<float> targets) {
  impl_->Run(
      targets.size(), [this](const char* b, const char* e) { return impl_->ToFloat(b, e); },
      [targets](std::size_t i, float v) { targets[i] = v; });
}

void ListReader::ReadReals(std::size_t count, RealSink& sink) {
  impl_->Run(
      count, [this](const char* b, const char* e) { return impl_->ToFloat(b, e); },
      [&sink](std::size_t i, float v) { sink.Put(i, v); });
}

void ListReader::ReadReals(std::size_t count, RealSink& sink, unsigned threads) {
  impl_->RunPlainFirst(count, sink, threads);
}

}  // namespace korvelan::textio
