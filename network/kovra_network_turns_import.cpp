// Reading a turn-restriction text file into a turn set.
//
// The file is read in two passes over its records: the first parses every
// line and resolves everything that can fail (numbers, field counts, link
// ranges, external ids, nearest nodes and their degrees); the second applies
// the records in file order and cannot fail short of running out of memory.
// An error therefore names its line and leaves the set as it was.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_textfilereader.h"
#include "network/kovra_externid.h"
#include "network/kovra_network.h"
#include "network/kovra_turn.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

namespace {

inline constexpr const char* cMsgTurnTooFewFields = "Turn file line %d has too few fields";
inline constexpr const char* cMsgTurnValueRange = "Turn file line %d: value out of range";
inline constexpr const char* cMsgTurnExternalClosed = "TurnImport: External ID not opened";

// Errors that name their line already.
class ETurnFileLine : public EInvalidParameter {
public:
  using EInvalidParameter::EInvalidParameter;
};

// The error being handled again, of the same class, with its line appended.
[[noreturn]] void RethrowAtLine(int32_t line) {
  const std::string at = Format(" (line %d)", line);
  try {
    throw;
  } catch (const ETurnFileLine&) {
    throw;
  } catch (const EConvertError& e) {
    throw EConvertError(e.Message() + at);
  } catch (const EOutOfRange& e) {
    throw EOutOfRange(e.Message() + at);
  } catch (const ECoordinateCheck& e) {
    throw ECoordinateCheck(e.Message() + at);
  } catch (const EWrongDegree& e) {
    throw EWrongDegree(e.Message() + at);
  } catch (const ENetworkIsClosed& e) {
    throw ENetworkIsClosed(e.Message() + at);
  } catch (const EInvalidParameter& e) {
    throw EInvalidParameter(e.Message() + at);
  } catch (const Exception& e) {
    throw Exception(e.Message() + at);
  }
}

// Number of leading bytes of p[0..n) that are whole, valid UTF-8 sequences;
// an incomplete sequence at the end is left for the next block. bad is set
// at the first invalid sequence, high at the first byte >= 0x80.
size_t Utf8Prefix(const uint8_t* p, size_t n, bool& bad, bool& high) {
  size_t i = 0;
  while (i < n) {
    // Plain ASCII, the common case, eight bytes at a time.
    if (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    const uint8_t b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    high = true;
    uint8_t lo, hi;
    const size_t len = Utf8Lead(b, lo, hi);
    if (len == 0) {
      bad = true;
      return i;
    }
    // Check what is there; the rest comes with the next block.
    const size_t have = std::min(len, n - i);
    if (have >= 2 && (p[i + 1] < lo || p[i + 1] > hi)) {
      bad = true;
      return i;
    }
    for (size_t k = 2; k < have; ++k)
      if ((p[i + k] & 0xC0) != 0x80) {
        bad = true;
        return i;
      }
    if (have < len) return i;
    i += len;
  }
  return i;
}

// UTF-8 for a file with a byte-order mark or valid UTF-8 holding bytes >=
// 0x80; otherwise the system ANSI code page (0). Files written as UTF-8 by
// the export read back as they were written; plain ASCII reads the same
// either way.
uint16_t TurnFileCodePage(const std::string& filename) {
  TKvFileStream f(filename, fmOpenRead | fmShareDenyWrite);
  constexpr size_t cBlock = 1 << 16;
  std::vector<uint8_t> buf(cBlock + 4);
  size_t carry = 0;
  bool bad = false, high = false, first = true;
  for (;;) {
    const int32_t got = f.Read(buf.data() + carry, int32_t(cBlock));
    const size_t n = carry + size_t(got);
    if (first) {
      first = false;
      if (n >= 3 && buf[0] == 0xEF && buf[1] == 0xBB && buf[2] == 0xBF) return cCodePageUTF8;
    }
    if (got == 0) return (carry == 0 && high) ? cCodePageUTF8 : 0;
    const size_t used = Utf8Prefix(buf.data(), n, bad, high);
    if (bad) return 0;
    carry = n - used;
    std::copy(buf.begin() + ptrdiff_t(used), buf.begin() + ptrdiff_t(n), buf.begin());
  }
}

// One resolved line.
enum class TTurnRecordKind : uint8_t { List, Standard, Mandatory };
struct TTurnRecord {
  TTurnRecordKind Kind;
  int32_t Count;   // links of a list
  int64_t Offset;  // into the link store: the list, the node, or the two links
  float Value;
};

float ParseTurnValue(const std::string& field, int32_t line) {
  bool overflow = false;
  const double v = ParseFloatDot(field, overflow);
  if (overflow || std::abs(v) > double(FLT_MAX)) throw ETurnFileLine(Format(cMsgTurnValueRange, line));
  return float(v);
}

double ParseCoordinate(const std::string& field, int32_t line) {
  bool overflow = false;
  const double v = ParseFloatDot(field, overflow);
  if (overflow) throw ETurnFileLine(Format(cMsgTurnValueRange, line));
  return v;
}

}  // namespace

int32_t TNetwork::TurnImportTxt(int32_t index, const std::string& filename) {
  CheckTurnIndex(index);
  const uint16_t codepage = TurnFileCodePage(filename);
  TTextFileReader reader(filename, codepage, 1 << 16);
  SetProgressStart(0);
  SetProgressStop(100);
  SetProgressMaxValue(double(reader.Size()));

  const bool externalOpen = FexternalID && FexternalID->IsOpen();
  std::unique_ptr<INearestNodeFinder> finder;  // made at the first type 2 line
  std::vector<TTurnRecord> records;
  std::vector<int32_t> store;
  // A record line takes at least about a dozen bytes: growing the arrays
  // line by line would copy them again and again.
  records.reserve(size_t(reader.Size() / 16));
  store.reserve(2 * records.capacity());
  std::vector<std::string> fields;
  std::string text;
  int32_t line = 0;

  while (!reader.Eof()) {
    reader.ReadLine(text);
    ++line;
    ProgressExecute(double(reader.Position()));
    const std::string_view trimmed = TrimView(text);
    if (trimmed.empty()) continue;
    SplitCommaText(trimmed, fields);
    if (fields[0].starts_with("//")) continue;
    const size_t nf = fields.size();
    try {
      const int32_t type = StrToInt(fields[0]);
      switch (type) {
        case 1:
        case 6:
        case 0:
        case 5: {
          const bool external = type == 0 || type == 5;
          if (external && !externalOpen) throw Exception(cMsgTurnExternalClosed);
          if (nf < 4) break;
          const float value = ParseTurnValue(fields[nf - 1], line);
          const size_t start = store.size();
          bool unknown = false;
          for (size_t i = 1; i + 1 < nf; ++i) {
            int32_t l;
            if (external) {
              l = ExternalID2Link(fields[i]);
              if (l == 0) {
                unknown = true;
                break;
              }
            } else {
              l = StrToInt(fields[i]);
            }
            CheckLinkRange(l);
            store.push_back(l);
          }
          // A line naming an unknown external id is skipped.
          if (unknown) {
            store.resize(start);
            break;
          }
          records.push_back({TTurnRecordKind::List, int32_t(nf - 2), int64_t(start), value});
          break;
        }
        case 2: {
          if (nf < 3) throw ETurnFileLine(Format(cMsgTurnTooFewFields, line));
          const TFloatPoint P{ParseCoordinate(fields[1], line), ParseCoordinate(fields[2], line)};
          if (!finder) finder = NearestNodeFinder();
          int32_t node = 0;
          double distance = 0;
          finder->NearestNode(P, node, distance);
          CheckNode(node);
          const int32_t d = Degree_raw(node);
          if (d < 4) throw EWrongDegree(Format(cMsgDegreeAtLeast4, d));
          if (d % 2 != 0) throw EWrongDegree(Format(cMsgDegreeEven, d));
          records.push_back({TTurnRecordKind::Standard, 1, int64_t(store.size()), 0});
          store.push_back(node);
          break;
        }
        case 3:
        case 4: {
          if (type == 3 && !externalOpen) throw Exception(cMsgTurnExternalClosed);
          if (nf < 3) throw ETurnFileLine(Format(cMsgTurnTooFewFields, line));
          const int32_t l1 = type == 3 ? ExternalID2Link(fields[1]) : StrToInt(fields[1]);
          const int32_t l2 = type == 3 ? ExternalID2Link(fields[2]) : StrToInt(fields[2]);
          if (l1 != 0) CheckLinkRange(l1);
          if (l2 != 0) CheckLinkRange(l2);
          if (l1 == 0 || l2 == 0) break;
          records.push_back({TTurnRecordKind::Mandatory, 2, int64_t(store.size()), 0});
          store.push_back(l1);
          store.push_back(l2);
          break;
        }
        default: break;
      }
    } catch (...) {
      RethrowAtLine(line);
    }
  }
  reader.Close();

  TTurnRestrictions& set = *FTurnList[size_t(index)];
  const int32_t before = set.Count();
  for (const TTurnRecord& r : records) {
    const int32_t* p = store.data() + r.Offset;
    switch (r.Kind) {
      case TTurnRecordKind::List: AddTurnListChecked(index, {std::span<const int32_t>(p, size_t(r.Count)), r.Value}); break;
      case TTurnRecordKind::Standard: TurnStandardCore(index, p[0]); break;
      case TTurnRecordKind::Mandatory: TurnMandatory_raw(index, p[0], p[1], true); break;
    }
  }
  ProgressExecuteZero();
  return set.Count() - before;
}

}  // namespace kovra
