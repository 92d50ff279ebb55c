// The buffered stream against a model: random reads, writes, seeks, size
// changes, flushes and window changes over an inner stream that refuses
// offsets beyond a limit (as a file system does beyond its largest file).
// Every read and position matches the model; an error is allowed only once the
// sequence has gone beyond the limit or the Int64 range, and ends the run;
// after a clean Close the inner stream holds exactly the model's bytes.
//
// Input: window size, limit selector, then operations (kind byte and operands).
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "foundation/kovra_io.h"
#include "fuzz_support.h"

using namespace kovra;
using namespace kovra::fuzz;

namespace {

constexpr int64_t cMax = std::numeric_limits<int64_t>::max();

// Sparse bytes with a size: what a file holds (unwritten bytes are 0).
struct TBytes {
  std::map<int64_t, uint8_t> b;
  int64_t size = 0;
  uint8_t At(int64_t i) const {
    auto it = b.find(i);
    return it == b.end() ? 0 : it->second;
  }
  void Put(int64_t i, uint8_t v) {
    if (v != 0)
      b[i] = v;
    else
      b.erase(i);
  }
  void Resize(int64_t n) {
    b.erase(b.lower_bound(n), b.end());
    size = n;
  }
};

// The inner stream: sparse, refusing seeks and writes beyond Limit.
class TSparseStream : public TKvStream {
public:
  explicit TSparseStream(int64_t Limit) : FLimit(Limit) {}
  TBytes Data;

  void SetSize(int64_t NewSize) override {
    if (NewSize < 0 || NewSize > FLimit) throw EStreamError("refused size");
    Data.Resize(NewSize);
    FPos = NewSize;
  }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : Data.size;
    int64_t t;
    if (__builtin_add_overflow(base, Offset, &t) || t < 0 || t > FLimit) return -1;
    FPos = t;
    return t;
  }
  int32_t Read(void* Buffer, int32_t Count) override {
    if (Count <= 0 || FPos >= Data.size) return 0;
    const int32_t n = int32_t(std::min<int64_t>(Count, Data.size - FPos));
    for (int32_t i = 0; i < n; ++i) static_cast<uint8_t*>(Buffer)[i] = Data.At(FPos + i);
    FPos += n;
    return n;
  }
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Count <= 0 || FPos > FLimit - Count) return 0;
    for (int32_t i = 0; i < Count; ++i) Data.Put(FPos + i, static_cast<const uint8_t*>(Buffer)[i]);
    FPos += Count;
    Data.size = std::max(Data.size, FPos);
    return Count;
  }

private:
  int64_t FLimit;
  int64_t FPos = 0;
};

struct TModel {
  TBytes data;
  int64_t pos = 0;

  int32_t Read(uint8_t* out, int32_t k) {
    const int32_t n = pos >= data.size ? 0 : int32_t(std::min<int64_t>(k, data.size - pos));
    for (int32_t i = 0; i < n; ++i) out[i] = data.At(pos + i);
    pos += n;
    return n;
  }
  void Write(const uint8_t* in, int32_t k) {
    if (k <= 0) return;  // an empty write extends nothing
    for (int32_t i = 0; i < k; ++i) data.Put(pos + i, in[i]);
    pos += k;
    data.size = std::max(data.size, pos);
  }
  int64_t Seek(int64_t off, int origin) {
    int64_t base = origin == 0 ? 0 : origin == 1 ? pos : origin == 2 ? data.size : -1;
    int64_t t;
    if (base < 0 || __builtin_add_overflow(base, off, &t) || t < 0) return -1;
    pos = t;
    return t;
  }
};

int64_t Offset(TFuzzInput& in) {
  switch (in.Byte() % 6) {
    case 0: return int64_t(in.Byte()) - 16;
    case 1: return int64_t(in.UInt16());
    case 2: return int64_t(in.UInt16()) * 61;  // across windows
    case 3: return cMax - int64_t(in.Byte());
    case 4: return -int64_t(in.UInt16());
    default: return int64_t(in.UInt64());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const int32_t window = 1 + in.Byte() % 64;
  const int64_t limits[] = {cMax, 100, 1000, 64 * 1024, int64_t(1) << 44};
  const int64_t limit = limits[in.Byte() % 5];
  TSparseStream inner(limit);
  TModel m;
  TKvBufferedStream s(&inner, false, window);
  bool risky = false;  // the sequence has gone where the inner stream refuses
  uint8_t buf[64], got[64];

  for (int steps = 0; !in.Empty() && steps < 400; ++steps) {
    const uint8_t op = in.Byte() % 12;
    const int32_t k = in.Byte() % 40;
    if (m.pos > limit || m.pos > cMax - 64) risky = true;
    try {
      switch (op) {
        case 0: {  // Write
          for (int32_t i = 0; i < k; ++i) buf[i] = in.Byte();
          if (m.pos > limit - k) risky = true;
          const bool over = k > 0 && m.pos > cMax - k;
          bool raised = false;
          int32_t n = 0;
          try {
            n = s.Write(buf, k);
          } catch (const EStreamError&) {
            if (!over) throw;
            raised = true;
          }
          if (over) {
            Check(raised, "a write past the Int64 range was accepted");
            break;
          }
          Check(n == k, "Write returned another count");
          m.Write(buf, k);
          break;
        }
        case 1: {  // Read
          const int32_t n = s.Read(got, k);
          Check(n == m.Read(buf, k), "Read returned another count");
          Check(std::memcmp(got, buf, size_t(n)) == 0, "Read returned other bytes");
          break;
        }
        case 2: {  // Seek
          const int origin = in.Byte() % 4;
          const int64_t off = Offset(in);
          const int64_t r = s.Seek(off, TSeekOrigin(origin));
          Check(r == m.Seek(off, origin), "Seek returned another position");
          break;
        }
        case 3: {  // typed write
          const uint64_t v = in.UInt64();
          const int width = 1 << (in.Byte() % 4);
          if (m.pos > limit - width) risky = true;
          const bool over = m.pos > cMax - width;
          bool raised = false;
          try {
            switch (width) {
              case 1: s.WriteByte(uint8_t(v)); break;
              case 2: s.WriteUInt16(uint16_t(v)); break;
              case 4: s.WriteUInt32(uint32_t(v)); break;
              default: s.WriteInt64(int64_t(v)); break;
            }
          } catch (const EStreamError&) {
            if (!over) throw;
            raised = true;
          }
          if (over) {
            Check(raised, "a typed write past the Int64 range was accepted");
            break;
          }
          uint8_t b[8];
          std::memcpy(b, &v, 8);
          m.Write(b, width);
          break;
        }
        case 4: {  // typed read: missing bytes read as 0
          const int width = 1 << (in.Byte() % 4);
          uint64_t v;
          switch (width) {
            case 1: v = s.ReadByte(); break;
            case 2: v = s.ReadUInt16(); break;
            case 4: v = s.ReadUInt32(); break;
            default: v = uint64_t(s.ReadInt64()); break;
          }
          uint8_t b[8] = {};
          m.Read(b, width);
          uint64_t expected = 0;
          std::memcpy(&expected, b, size_t(width));
          Check(v == expected, "typed read returned another value");
          break;
        }
        case 5: {  // SetSize
          const int64_t n = in.Byte() % 2 ? int64_t(in.UInt16()) : Offset(in);
          if (n < 0) {
            bool raised = false;
            try {
              s.SetSize(n);
            } catch (const EStreamError&) {
              raised = true;
            }
            Check(raised, "a negative size was accepted");
            break;
          }
          if (n > limit) risky = true;
          s.SetSize(n);
          m.data.Resize(n);
          m.pos = n;
          break;
        }
        case 6:
          s.Flush();
          break;
        case 7:
          (void)s.FillBuffer();
          break;
        case 8:
          s.SetBufferSize(1 + k);
          break;
        case 9:
          Check(s.Position() == m.pos, "Position differs");
          Check(s.Size() == m.data.size, "Size differs");
          Check(s.Position() == m.pos, "Size moved the position");
          break;
        case 10: {  // ReadBuffer: all or EReadError after the bytes there were
          const int64_t avail = m.pos >= m.data.size ? 0 : m.data.size - m.pos;
          bool raised = false;
          try {
            s.ReadBuffer(got, k);
          } catch (const EReadError&) {
            raised = true;
          }
          const int32_t n = m.Read(buf, k);
          Check(raised == (k > 0 && avail < k), "ReadBuffer raised wrongly");
          if (!raised) Check(std::memcmp(got, buf, size_t(n)) == 0, "ReadBuffer returned other bytes");
          break;
        }
        default:
          Check(s.GetLogicalSize() == m.data.size, "logical size differs");
          break;
      }
    } catch (const Exception&) {
      Check(risky, "an error without a refused offset or range");
      return 0;
    }
  }
  try {
    s.Close();
  } catch (const Exception&) {
    Check(risky, "Close failed without a refused offset");
    return 0;
  }
  Check(inner.Data.size == m.data.size, "the inner stream's size differs from the model");
  Check(inner.Data.b == m.data.b, "the inner stream's bytes differ from the model");
  return 0;
}
