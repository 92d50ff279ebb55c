#include "import/support/tab_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>

#include "support/test_files.h"

namespace kovra::testsupport {

namespace {

// A growable little-endian byte image.
struct TBytes {
  std::string b;
  void Grow(int64_t size) {
    if (int64_t(b.size()) < size) b.resize(size_t(size), '\0');
  }
  template <typename T>
  void Put(int64_t at, T v) {
    Grow(at + int64_t(sizeof v));
    std::memcpy(b.data() + at, &v, sizeof v);
  }
};

bool IsPolyline(uint8_t type) { return type == 7 || type == 8; }

// Bytes of an object, the type byte and row id included.
int64_t ObjectSize(uint8_t type, int64_t P) {
  switch (type) {
    case 4: return 1 + P + 8 + 1;                     // 4 Int16, pen
    case 5: return 1 + P + 16 + 1;                    // 4 Int32, pen
    case 7: return 1 + P + P + 4 + 4 + 8 + 8 + 1;     // data, size, label, origin, box, pen
    case 8: return 1 + P + P + 4 + 8 + 16 + 1;        // data, size, label, box, pen
    default: return 1 + P + 10;
  }
}

void Box(const std::vector<TIntPoint>& pts, int32_t& x0, int32_t& y0, int32_t& x1, int32_t& y1) {
  x0 = y0 = std::numeric_limits<int32_t>::max();
  x1 = y1 = std::numeric_limits<int32_t>::min();
  for (const TIntPoint& p : pts) {
    x0 = std::min(x0, p.x);
    y0 = std::min(y0, p.y);
    x1 = std::max(x1, p.x);
    y1 = std::max(y1, p.y);
  }
}

int16_t Delta(int64_t v, int64_t origin) {
  const int64_t d = v - origin;
  EXPECT_TRUE(d >= INT16_MIN && d <= INT16_MAX) << "fixture: a compressed coordinate does not fit 16 bits";
  return int16_t(d);
}

void WriteDat(const std::string& path, const TTabFixture& f) {
  const bool x = f.NativeX;
  const int64_t n = int64_t(f.Objects.size());
  const int32_t bitmap = x ? 1 : 0;  // null bits of two fields
  const int32_t reclen = 1 + bitmap + 8;
  const int32_t start = 32 + 32 * 2 + 1;
  TBytes d;
  d.Put<uint8_t>(0, 3);
  if (x) {
    d.Put<int64_t>(4, n);
    d.Put<uint32_t>(12, uint32_t(start));
    d.Put<uint32_t>(16, uint32_t(reclen));
  } else {
    d.Put<uint8_t>(1, 124);
    d.Put<uint8_t>(2, 1);
    d.Put<uint8_t>(3, 1);
    d.Put<int32_t>(4, int32_t(n));
    d.Put<uint16_t>(8, uint16_t(start));
    d.Put<uint16_t>(10, uint16_t(reclen));
  }
  const char* names[] = {"ZFROM", "ZTO"};
  for (int k = 0; k < 2; ++k) {
    const int64_t at = 32 + 32 * k;
    d.Grow(at + 32);
    std::memcpy(d.b.data() + at, names[k], std::strlen(names[k]));
    d.Put<uint8_t>(at + 11, 'C');
    if (x)
      d.Put<int32_t>(at + 16, 4);
    else
      d.Put<uint8_t>(at + 16, 4);
  }
  d.Put<uint8_t>(32 + 64, 0x0D);
  for (int64_t r = 0; r < n; ++r) {
    const int64_t at = start + r * reclen;
    d.Put<uint8_t>(at, ' ');
    if (x) d.Put<uint8_t>(at + 1, 0);
    d.Put<int32_t>(at + 1 + bitmap, f.Objects[size_t(r)].ZFrom);
    d.Put<int32_t>(at + 1 + bitmap + 4, f.Objects[size_t(r)].ZTo);
  }
  WriteBytes(path, d.b);
}

}  // namespace

double MapToRealX(const TTabHeader& h, int32_t X) { return (double(X) - h.XDispl) / h.XScale; }
double MapToRealY(const TTabHeader& h, int32_t Y) { return (double(Y) - h.YDispl) / h.YScale; }

void PatchBytes(const std::string& Path, int64_t Offset, const void* Bytes, size_t Count) {
  std::fstream f(Path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(Offset);
  f.write(static_cast<const char*>(Bytes), std::streamsize(Count));
  EXPECT_TRUE(f.good()) << "cannot patch " << Path;
}

TTabWritten WriteTabFixture(const std::string& Stem, const TTabFixture& f) {
  const int64_t P = f.Version == 1500 ? 8 : 4;
  const int64_t size = f.BlockSize;
  const int64_t objectHeader = P == 4 ? 20 : 28;
  const size_t rows = f.Objects.size();
  TTabWritten w;
  w.Tab = Stem + ".tab";
  w.Map = Stem + ".map";
  w.Id = Stem + ".id";
  w.Dat = Stem + ".dat";
  w.Object.assign(rows, 0);
  w.CoordData.assign(rows, 0);

  // Objects into object blocks from block 1 on.
  std::vector<std::vector<size_t>> blocks;
  int64_t used = size;  // no block yet
  for (size_t r = 0; r < rows; ++r) {
    const TTabObject& o = f.Objects[r];
    if (o.Deleted) continue;
    const int64_t n = ObjectSize(o.Type, P);
    if (blocks.empty() || o.NewBlock || used + n > size) {
      blocks.emplace_back();
      used = objectHeader;
    }
    w.Object[r] = int64_t(blocks.size()) * size + used;
    blocks.back().push_back(r);
    used += n;
  }

  TBytes map;
  map.Grow(size * int64_t(1 + blocks.size()));

  // Coordinate data, packed into chained coordinate blocks after the object blocks.
  int64_t nextFree = map.b.size();
  int64_t block = 0, pos = 0;
  auto newBlock = [&]() {
    if (f.SpacedCoordBlocks && block != 0) {
      map.Grow(nextFree + size);
      std::memset(map.b.data() + nextFree, 0x55, size_t(size));
      nextFree += size;
    }
    const int64_t b = nextFree;
    nextFree += size;
    map.Grow(nextFree);
    map.Put<int16_t>(b, 3);
    if (block != 0) {
      map.Put<int16_t>(block + 2, int16_t(size - 2 * P));
      if (P == 4)
        map.Put<int32_t>(block + 4, int32_t(b));
      else
        map.Put<int64_t>(block + 8, b);
    }
    w.CoordBlocks.push_back(b);
    block = b;
    pos = b + 2 * P;
  };
  auto put = [&](auto v) {
    if (block == 0 || pos == block + size) newBlock();
    map.Put(pos, v);
    pos += int64_t(sizeof v);
  };
  for (size_t r = 0; r < rows; ++r) {
    const TTabObject& o = f.Objects[r];
    if (o.Deleted || !IsPolyline(o.Type)) continue;
    if (block == 0 || pos == block + size) newBlock();
    w.CoordData[r] = pos;
    for (const TIntPoint& p : o.Points) {
      if (o.Type == 7) {
        put(Delta(p.x, o.Points.front().x));
        put(Delta(p.y, o.Points.front().y));
      } else {
        put(p.x);
        put(p.y);
      }
    }
  }
  if (block != 0) map.Put<int16_t>(block + 2, int16_t(pos - block - 2 * P));

  // The object blocks and their objects.
  int32_t mx0 = std::numeric_limits<int32_t>::max(), my0 = mx0, mx1 = std::numeric_limits<int32_t>::min(), my1 = mx1;
  for (size_t k = 0; k < blocks.size(); ++k) {
    const int64_t b = int64_t(k + 1) * size;
    // The centre is the middle of the block's compressed lines, which are
    // stored relative to it.
    std::vector<TIntPoint> all, lines4;
    for (size_t r : blocks[k]) {
      const TTabObject& o = f.Objects[r];
      all.insert(all.end(), o.Points.begin(), o.Points.end());
      if (o.Type == 4) lines4.insert(lines4.end(), o.Points.begin(), o.Points.end());
    }
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (!all.empty()) {
      Box(all, x0, y0, x1, y1);
      mx0 = std::min(mx0, x0);
      my0 = std::min(my0, y0);
      mx1 = std::max(mx1, x1);
      my1 = std::max(my1, y1);
    }
    if (!lines4.empty()) Box(lines4, x0, y0, x1, y1);
    const int32_t cx = int32_t((int64_t(x0) + x1) / 2), cy = int32_t((int64_t(y0) + y1) / 2);
    map.Put<int16_t>(b, 2);
    map.Put<int32_t>(b + 4, cx);
    map.Put<int32_t>(b + 8, cy);
    int64_t end = objectHeader;
    for (size_t r : blocks[k]) {
      const TTabObject& o = f.Objects[r];
      const int64_t q = w.Object[r];
      map.Put<uint8_t>(q, o.Type);
      if (P == 4)
        map.Put<int32_t>(q + 1, int32_t(r + 1));
      else
        map.Put<int64_t>(q + 1, int64_t(r + 1));
      const int64_t at = q + 1 + P;
      const std::vector<TIntPoint>& pts = o.Points;
      switch (o.Type) {
        case 4:
          for (int i = 0; i < 2; ++i) {
            map.Put(at + 4 * i, Delta(pts[size_t(i)].x, cx));
            map.Put(at + 4 * i + 2, Delta(pts[size_t(i)].y, cy));
          }
          break;
        case 5:
          for (int i = 0; i < 2; ++i) {
            map.Put(at + 8 * i, pts[size_t(i)].x);
            map.Put(at + 8 * i + 4, pts[size_t(i)].y);
          }
          break;
        case 7:
        case 8: {
          if (P == 4)
            map.Put<int32_t>(at, int32_t(w.CoordData[r]));
          else
            map.Put<int64_t>(at, w.CoordData[r]);
          const uint32_t bytes = uint32_t(pts.size()) * 8 / (o.Type == 7 ? 2 : 1);
          map.Put<uint32_t>(at + P, bytes);
          int32_t x0o = 0, y0o = 0, x1o = 0, y1o = 0;
          if (!pts.empty()) Box(pts, x0o, y0o, x1o, y1o);
          if (o.Type == 7) {
            const TIntPoint org = pts.empty() ? TIntPoint{} : pts.front();
            // the label (left 0: at the origin), the origin, the box as deltas
            map.Put<int32_t>(at + P + 8, org.x);
            map.Put<int32_t>(at + P + 12, org.y);
            map.Put(at + P + 16, Delta(x0o, org.x));
            map.Put(at + P + 18, Delta(y0o, org.y));
            map.Put(at + P + 20, Delta(x1o, org.x));
            map.Put(at + P + 22, Delta(y1o, org.y));
          } else {
            map.Put<int32_t>(at + P + 4, x0o);
            map.Put<int32_t>(at + P + 8, y0o);
            map.Put<int32_t>(at + P + 12, x0o);
            map.Put<int32_t>(at + P + 16, y0o);
            map.Put<int32_t>(at + P + 20, x1o);
            map.Put<int32_t>(at + P + 24, y1o);
          }
          break;
        }
        default: break;
      }
      end = q - b + ObjectSize(o.Type, P);
    }
    map.Put<int16_t>(b + 2, int16_t(end - objectHeader));
    // first and last coordinate block, where any
    if (!w.CoordBlocks.empty()) {
      if (P == 4) {
        map.Put<int32_t>(b + 12, int32_t(w.CoordBlocks.front()));
        map.Put<int32_t>(b + 16, int32_t(w.CoordBlocks.back()));
      } else {
        map.Put<int64_t>(b + 12, w.CoordBlocks.front());
        map.Put<int64_t>(b + 20, w.CoordBlocks.back());
      }
    }
  }

  // The header block. Object sizes by type (the high bit: coordinates in
  // coordinate blocks), then the fields readers interpret.
  for (uint8_t t : {4, 5, 7, 8}) map.Put<uint8_t>(t, uint8_t(ObjectSize(t, P) | (IsPolyline(t) ? 0x80 : 0)));
  map.Put<int32_t>(256, 42424242);
  map.Put<uint16_t>(260, uint16_t(f.Version));
  map.Put<uint16_t>(262, uint16_t(size));
  map.Put<double>(264, 1.0);
  if (mx0 > mx1) mx0 = my0 = mx1 = my1 = 0;
  map.Put<int32_t>(272, mx0);
  map.Put<int32_t>(276, my0);
  map.Put<int32_t>(280, mx1);
  map.Put<int32_t>(284, my1);
  int32_t lines = 0;
  for (const TTabObject& o : f.Objects) lines += !o.Deleted && o.Type >= 4 && o.Type <= 8;
  map.Put<int32_t>(320, lines);
  map.Put<uint8_t>(350, f.Header.Unit);
  map.Put<uint8_t>(352, f.Header.Precision);
  map.Put<uint8_t>(353, f.Header.Quadrant);
  map.Put<uint8_t>(355, 8);  // highest type of the size table
  map.Put<int16_t>(362, f.Header.Datum);
  map.Put<uint8_t>(365, f.Header.Projection);
  map.Put<uint8_t>(366, f.Header.Ellipsoid);
  map.Put<uint8_t>(367, f.Header.Unit);
  map.Put<double>(368, f.Header.XScale);
  map.Put<double>(376, f.Header.YScale);
  map.Put<double>(384, f.Header.XDispl);
  map.Put<double>(392, f.Header.YDispl);
  for (int i = 0; i < 6; ++i) map.Put<double>(400 + 8 * i, f.Header.Params[i]);
  for (int i = 0; i < 8; ++i) map.Put<double>(448 + 8 * i, f.Header.DatumValues[i]);
  WriteBytes(w.Map, map.b);

  TBytes id;
  for (size_t r = 0; r < rows; ++r) {
    if (P == 4)
      id.Put<int32_t>(int64_t(r) * 4, int32_t(w.Object[r]));
    else
      id.Put<int64_t>(int64_t(r) * 8, w.Object[r]);
  }
  WriteBytes(w.Id, id.b);

  WriteBytes(w.Tab, "!table\n!version " + std::string(f.NativeX ? "1500" : "300") + "\n!charset " + f.Charset +
                        "\n\nDefinition Table\n  Type " + (f.NativeX ? "NATIVEX" : "NATIVE") + " Charset \"" +
                        f.Charset + "\"\n  Fields 2\n    zfrom Integer ;\n    zto Integer ;\n");
  WriteDat(w.Dat, f);
  return w;
}

}  // namespace kovra::testsupport
