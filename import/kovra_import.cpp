#include "import/kovra_import.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <numbers>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_dbffiles.h"
#include "foundation/kovra_functions.h"
#include "foundation/kovra_geometry.h"
#include "foundation/kovra_io.h"

namespace kovra {

namespace {

TDateTime Now() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  ::localtime_r(&ts.tv_sec, &t);
  return ComposeDateTime(EncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                         EncodeTime(t.tm_hour, t.tm_min, std::min(t.tm_sec, 59), int32_t(ts.tv_nsec / 1000000)));
}

// Number text of the coordinate message; a corrupt value may be NaN or infinite.
std::string CoordinateText(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  return FloatToStrDot(v);
}

std::unique_ptr<TKvBufferedStream> CreateVertexFile(const std::string& name) {
  return std::make_unique<TKvBufferedStream>(new TKvFileStream(name, fmCreate), true);
}

}  // namespace

// ---------------------------------------------------------------------------
// TBaseImport

TBaseImport::TBaseImport() = default;

TBaseImport::~TBaseImport() = default;

void TBaseImport::Clear() { fFiles.clear(); }

void TBaseImport::BeginRun() {
  fStartTime = Now();
  // Figures of the build: a run that builds nothing must not show an earlier run's.
  fTotallength = 0;
  fMaxdegree = 0;
  fNodeCount = 0;
  fRunDir = Directory() + cImportStagingFolder + "/";
  {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove_all(fRunDir, ec);
    if (!fs::create_directory(fRunDir, ec))
      throw EFCreateError(Format(cMsgFCreateError, fRunDir, ec ? ec.message() : std::string("It exists")));
  }
  fg1Filename = fRunDir + cCoordFromFile;
  fg2Filename = fRunDir + cCoordToFile;
  fg3Filename = fRunDir + cCoord3FileName;
  fg3iFilename = fRunDir + cCoord3iFileName;
  fg1 = CreateVertexFile(fg1Filename);
  fg2 = CreateVertexFile(fg2Filename);
  fg3 = CreateVertexFile(fg3Filename);
  fg3i = CreateVertexFile(fg3iFilename);
  fCoord3Values = 0;
  fMBR = cEmptyRect;
  fImportErrorList.Clear();
  fFileLastLink.clear();
  fLinkCount = 0;
  fLinkCountFile = 0;
  fZFrom = fZTo = 0;
  fZLevels = false;
  fZRadius = 0;
  fEncoder2 = std::make_unique<T32EncryptionArray>(fEncryptionKey);
  fObjects_found = false;
  ProgressExecuteZero();
}

void TBaseImport::CloseVertexFiles() {
  for (auto* s : {&fg1, &fg2, &fg3, &fg3i}) {
    if (*s) {
      (*s)->Close();
      s->reset();
    }
  }
  if (!fRunDir.empty()) {
    FileComplete(cCoord3FileName);
    FileComplete(cCoord3iFileName);
  }
}

void TBaseImport::AbortRun() {
  for (auto* s : {&fg1, &fg2, &fg3, &fg3i}) s->reset();
  if (fRunDir.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(fRunDir, ec);
  fRunDir.clear();
}

void TBaseImport::InstallRun() {
  namespace fs = std::filesystem;
  const std::string& dir = Directory();
  // The vertex files of the ends stay only where a run stops after reading.
  std::vector<std::string> order{cCoordFromFile, cCoordToFile};
  order.insert(order.end(), std::begin(cImportedFileNames), std::end(cImportedFileNames));
  order.push_back(cConfigFileName);
  std::vector<std::string> staged;
  for (const std::string& name : order) {
    std::error_code ec;
    if (fs::is_regular_file(fRunDir + name, ec)) staged.push_back(name);
  }
  if (!staged.empty()) {
    // Bytes first: a rename that outlives a power loss must find them.
    for (const std::string& name : staged) SyncFileToDisk(fRunDir + name);
    Checkpoint("synced");
    // From here until the new settings file is in place the folder is no
    // openable network.
    RemoveFile(dir + cConfigFileName);
    Checkpoint("settings removed");
    // One pass over the folder: most of the names a network may use are absent.
    std::vector<std::string> earlier;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (IsNetworkDirectoryFileName(name) && std::find(staged.begin(), staged.end(), name) == staged.end())
        earlier.push_back(name);
    }
    if (ec) throw EFOpenError(Format(cMsgFOpenError, dir, ec.message()));
    for (const std::string& name : earlier) RemoveFile(dir + name);
    Checkpoint("earlier files removed");
    for (const std::string& name : staged) {
      if (name == cConfigFileName) continue;
      RenameFile(fRunDir + name, dir + name);
      Checkpoint(name.c_str());
    }
    SyncFolderToDisk(dir);
    if (std::find(staged.begin(), staged.end(), cConfigFileName) != staged.end()) {
      RenameFile(fRunDir + cConfigFileName, dir + cConfigFileName);
      SyncFolderToDisk(dir);
      Checkpoint(cConfigFileName);
    }
  }
  std::error_code ec;
  fs::remove_all(fRunDir, ec);
  fRunDir.clear();
}

TFloatPoint* TBaseImport::VertexBuffer(int32_t n) {
  if (fVertices.size() < size_t(n)) fVertices.resize(size_t(n));
  return fVertices.data();
}

void TBaseImport::SetZRadius() { fZRadius = 0.0001 / KmPerUnit(fCoordinateUnit); }

void TBaseImport::WriteVertexIndex() { fg3i->WriteInt32(int32_t(fCoord3Values / 2)); }

void TBaseImport::AddError(int32_t fileindex, int32_t linklocal, int32_t link, TErrorCode errorcode,
                           int32_t value) {
  fg1->WriteDouble(0);
  fg1->WriteDouble(0);
  fg2->WriteDouble(0);
  fg2->WriteDouble(0);
  fImportErrorList.Add(TImportError{fileindex, linklocal, link, errorcode, value});
  NoteFileObject(fileindex);
}

void TBaseImport::NoteFileObject(int32_t fileindex) {
  if (fileindex < 0) return;
  const int32_t before = fFileLastLink.empty() ? 0 : fFileLastLink.back();
  if (size_t(fileindex) >= fFileLastLink.size()) fFileLastLink.resize(size_t(fileindex) + 1, before);
  fFileLastLink[size_t(fileindex)] = fLinkCount;
}

void TBaseImport::AddPolyline(int32_t fileindex) {
  TFloatPoint* v = fVertices.data();
  // Repeated vertices go first, so that (5,5),(5,5) is a one-vertex object and
  // not a loop.
  int32_t n = fNumPoints > 0 ? 1 : 0;
  for (int32_t i = 1; i < fNumPoints; ++i)
    if (v[i] != v[n - 1]) v[n++] = v[i];
  fNumPoints = n;
  if (n < 2) {
    AddError(fileindex, fLinkCountFile, fLinkCount, ecZeroOrOneVertices, n);
    return;
  }
  if (!fAllowLoops && v[0] == v[n - 1] && fZFrom == fZTo) {
    AddError(fileindex, fLinkCountFile, fLinkCount, ecLoopLink, 0);
    return;
  }
  AddVertex(v[0], 1);
  for (int32_t i = 1; i < n - 1; ++i) AddVertex(v[i], 0);
  AddVertex(v[n - 1], 2);
  NoteFileObject(fileindex);
}

void TBaseImport::RaiseInvalidCoordinate(const TFloatPoint& point) const {
  throw Exception("Coordinates (" + CoordinateText(point.x) + "," + CoordinateText(point.y) +
                  ") not valid for chosen coordinate unit");
}

void TBaseImport::AddVertex(TFloatPoint point, int32_t role) {
  // The negated tests also refuse NaN; a non-finite value would poison the
  // node merge and every length, whatever the unit.
  const double x = point.x, y = point.y;
  switch (fCoordinateUnit) {
    case cuDeg:
      if (!(x >= -180 && x <= 180 && y >= -90 && y <= 90)) RaiseInvalidCoordinate(point);
      break;
    case cuRad:
      if (!(x >= -std::numbers::pi && x <= std::numbers::pi && y >= -std::numbers::pi / 2 &&
            y <= std::numbers::pi / 2))
        RaiseInvalidCoordinate(point);
      break;
    case cuGrad:
      if (!(x >= -200 && x <= 200 && y >= -100 && y <= 100)) RaiseInvalidCoordinate(point);
      break;
    default:
      if (!std::isfinite(x) || !std::isfinite(y)) RaiseInvalidCoordinate(point);
      break;
  }
  const int32_t z = role == 1 ? fZFrom : role == 2 ? fZTo : 0;
  if (z != 0) {
    // Level z moves the end z * 20 degrees clockwise from north. Levels 9 and
    // -9 share that direction, so -9 goes twice as far to stay a separate node.
    const double r = z == cMinZLevel ? 2 * fZRadius : fZRadius;
    const double a = double(z) * std::numbers::pi / 9;
    point.x = point.x + r * std::sin(a);
    point.y = point.y + r * std::cos(a);
  }
  ExtendRect(fMBR, point);
  switch (role) {
    case 1:
      fg1->WriteDouble(point.x);
      fg1->WriteDouble(point.y);
      break;
    case 2:
      fg2->WriteDouble(point.x);
      fg2->WriteDouble(point.y);
      break;
    default:
      // Key 0 leaves the bits as they are.
      fg3->WriteInt64(fEncoder2->Encode(point.x, int32_t(fCoord3Values)));
      fg3->WriteInt64(fEncoder2->Encode(point.y, int32_t(fCoord3Values + 1)));
      fCoord3Values += 2;
      break;
  }
  fObjects_found = true;
}

// ---------------------------------------------------------------------------
// TImport

TImport::TImport() = default;

TImport::~TImport() = default;

void TImport::Add(const std::string& filename) { fFiles.push_back(filename); }

void TImport::AddFiles(const std::vector<std::string>& files) {
  fFiles.insert(fFiles.end(), files.begin(), files.end());
}

TInputKind TImport::KindOf(const std::string& filename) {
  const std::string ext = UpperAscii(std::filesystem::path(filename).extension().string());
  if (ext == ".SHP") return TInputKind::ikSHP;
  if (ext == ".MIF") return TInputKind::ikMIF;
  if (ext != ".TAB") return TInputKind::ikOther;
  const std::string map = FindSibling(filename, "map");
  if (map.empty()) return TInputKind::ikTABNoMap;
  TKvFileStream s(map, fmOpenRead | fmShareDenyWrite);
  // The version word sits at 260; a shorter file has none.
  if (s.Size() < 262) return TInputKind::ikTABOther;
  s.Seek(260, soBeginning);
  switch (s.ReadUInt16()) {
    case 500: return TInputKind::ikTAB500;
    case 1500: return TInputKind::ikTAB1500;
    default: return TInputKind::ikTABOther;
  }
}

void TImport::CheckRequest() {
  fInputs.clear();
  fZTables.reset();
  fZTableEnds.clear();
  if (fFiles.empty()) throw EFileMissing("Cannot find input file to import.");
  for (const std::string& name : fFiles) {
    TInputFile f;
    f.Name = name;
    f.Kind = KindOf(name);
    fInputs.push_back(std::move(f));
  }
  fKind = fInputs.front().Kind;
  for (const TInputFile& f : fInputs)
    if (f.Kind != fKind) throw Exception("Only a single type of files are allowed");
  switch (fKind) {
    case TInputKind::ikOther: throw Exception("Only MIF/SHP/TAB files are allowed in the list");
    case TInputKind::ikTABNoMap: throw Exception("TAB file has no MAP component");
    case TInputKind::ikTABOther: throw Exception("Unsupported MAP file encountered");
    case TInputKind::ikSHP: CheckSHP(); break;
    case TInputKind::ikMIF: CheckMIF(); break;
    case TInputKind::ikTAB500:
    case TInputKind::ikTAB1500: CheckTAB(); break;
  }
  CheckDirectory();
}

std::string TImport::RequiredCompanion(const std::string& name, const char* ext) {
  std::string companion = FindSibling(name, ext);
  if (companion.empty()) {
    companion = std::filesystem::path(name).replace_extension(std::string(".") + ext).string();
    TKvFileStream probe(companion, fmOpenRead | fmShareDenyWrite);
  }
  return companion;
}

void TImport::OpenZTables(uint16_t CodePage) {
  int64_t total = 0;
  auto tables = std::make_unique<TDbfFiles>(CodePage);
  for (const TInputFile& f : fInputs) {
    TDbfFile t(f.Dbf, CodePage);
    t.Open(false);
    total += t.RecordCount();
    fZTableEnds.push_back(total);
    tables->Add(f.Dbf);
  }
  tables->Open();
  if (fZfromField >= tables->FieldCount() || fZtoField >= tables->FieldCount())
    throw Exception("Invalid fields for Z-levels defined");
  fZTables = std::move(tables);
}

void TImport::NextTableObject() {
  ++fLinkCount;
  ++fLinkCountFile;
  if (fZLevels) ReadZLevels(fLinkCount);
  WriteVertexIndex();
  ProgressExecute(fLinkCount);
}

void TImport::ReadInput() {
  SetProgressStart(0);
  SetProgressStop(26);
  switch (fKind) {
    case TInputKind::ikSHP: ReadSHP(); break;
    case TInputKind::ikMIF: ReadMIF(); break;
    case TInputKind::ikTAB500: ReadTAB(0); break;
    case TInputKind::ikTAB1500: ReadTAB(1); break;
    default: break;  // CheckRequest lets no other kind through
  }
}

void TImport::Build() { BuildNetwork(26); }

void TImport::AbortRun() {
  fZTables.reset();
  TBaseImport::AbortRun();
}

void TImport::Execute() {
  FCancelled = false;
  try {
    CheckRequest();
  } catch (...) {
    fZTables.reset();
    throw;
  }
  try {
    BeginRun();
    ReadInput();
    Checkpoint("read");
    if (!Cancelled()) Build();
    if (Cancelled())
      AbortRun();
    else
      InstallRun();
  } catch (...) {
    AbortRun();
    throw;
  }
  fZTables.reset();
  fStopTime = Now();
  ProgressExecuteZero();
}

}  // namespace kovra
