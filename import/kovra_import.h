// Network import from GIS files. One run of Execute turns every object of the
// listed files into one link: an object that cannot be used becomes a link of
// length 0 and an entry of the error list. The run is split into steps that
// descendants extend:
//   CheckRequest  validates the whole request; nothing in the output folder is
//                 touched before it has passed;
//   BeginRun      resets the results and creates the files of the reading stage;
//   ReadInput     decodes the objects into the polyline intake (progress 0..26);
//   Build         turns what was read into the network.
// Every file of a run is written into a staging folder inside the output
// folder and moved into the output folder only when the run is complete
// (InstallRun), so a run that fails, is cancelled or reads no usable object
// leaves the folder as it was, and a network open there keeps reading its own
// files. Any failure after BeginRun, and a cancel, remove the staging folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_baselist.h"
#include "foundation/kovra_encryption.h"
#include "foundation/kovra_filebase.h"
#include "foundation/kovra_types.h"
#include "giswriter/kovra_giswriter.h"
#include "import/kovra_import_mif.h"
#include "network/kovra_networkfile.h"

namespace kovra {

class TDbfFiles;
class TKvBufferedStream;

// Why an input object became an empty link; the ordinals are stored and reported.
enum class TErrorCode : uint8_t {
  ecDeleted, ecNotGeoCoded, ecNotPolyLine, ecMultiSection, ecZeroOrOneVertices, ecLoopLink,
  ecTooManyVertices, ecInvalidGeography, ecSinglePoint
};
using enum TErrorCode;

struct TImportError {
  int32_t fileindex = 0;  // 0-based position of the input file in the list
  int32_t linklocal = 0;  // 1-based object number within its file
  int32_t link = 0;       // 1-based link number over all files
  TErrorCode errorcode = ecDeleted;
  int32_t value = 0;      // meaning depends on the code (a count, a type number)
};

class TImportErrorList : public TBaseList<TImportError> {};

enum class TImportSource : uint8_t {
  isFiles, isMSsql, isMSsqlZ, isOracle, isOracleZ, isPostGIS, isPostGISZ, isCustom, isCustomZ
};
using enum TImportSource;

// The first and last vertex of every object, written while reading and
// removed by the build once link.bin is written (coord3.bin and coord3i.bin,
// the other two vertex files, stay in the network).
inline constexpr const char* cCoordFromFile = "coordfrom.bin";
inline constexpr const char* cCoordToFile = "coordto.bin";
// The staging folder of a run, inside the output folder: on the same file
// system, so its files are moved into the output folder by renaming. A folder
// of this name left by a run that was killed is emptied by the next run.
inline constexpr const char* cImportStagingFolder = "kovra_import.tmp";

// Most vertices an object may have; longer objects are rejected.
inline constexpr int32_t cMaxVerticesPerObject = 65535;

class TBaseImport : public TFileBase {
public:
  TBaseImport();
  ~TBaseImport() override;
  TBaseImport(const TBaseImport&) = delete;
  TBaseImport& operator=(const TBaseImport&) = delete;

  virtual void Execute() = 0;
  // Empties the input file list.
  void Clear();
  // Writes "network_report.txt" into Directory after Execute: the run's
  // settings, input, coordinate system, rejected objects and figures, in code
  // page 1252 with CR LF, numbers with '.' whatever the locale.
  void CreateReport();

  bool AllowLoops() const { return fAllowLoops; }
  void SetAllowLoops(bool value) { fAllowLoops = value; }
  bool FailOnDifferentCoordSys() const { return fFailOnDifferentCoordSys; }
  void SetFailOnDifferentCoordSys(bool value) { fFailOnDifferentCoordSys = value; }
  TCoordinateUnit CoordinateUnit() const { return fCoordinateUnit; }
  void SetCoordinateUnit(TCoordinateUnit value) { fCoordinateUnit = value; }
  const std::string& CoordSys() const { return fCoordSys; }
  void SetCoordSys(const std::string& value) { fCoordSys = value; }
  int32_t EPSG() const { return fEPSG; }
  void SetEPSG(int32_t value) { fEPSG = value; }
  const std::string& Prj() const { return fPrj; }
  void SetPrj(const std::string& value) { fPrj = value; }
  int32_t ZFromField() const { return fZfromField; }
  void SetZFromField(int32_t value) { fZfromField = value; }
  int32_t ZToField() const { return fZtoField; }
  void SetZToField(int32_t value) { fZtoField = value; }
  bool SkipSpatialIndex() const { return fSkipSpatialIndex; }
  void SetSkipSpatialIndex(bool value) { fSkipSpatialIndex = value; }
  int32_t MaxNodesPerCell() const { return fMaxNodesPerCell; }
  // Values of 10 or less are ignored: a leaf that small would split without end.
  void SetMaxNodesPerCell(int32_t value) {
    if (value > 10) fMaxNodesPerCell = value;
  }

  const TImportErrorList& ImportErrorList() const { return fImportErrorList; }
  int32_t LinkCount() const { return fLinkCount; }
  int32_t MaxDegree() const { return fMaxdegree; }
  int32_t NodeCount() const { return fNodeCount; }
  const TFloatRect& MBR() const { return fMBR; }
  TDateTime StartTime() const { return fStartTime; }
  TDateTime StopTime() const { return fStopTime; }
  double TotalLength() const { return fTotallength; }
  TImportSource ImportSource() const { return fImportSource; }

protected:
  // Resets the results of an earlier run, makes the staging folder (emptied
  // when one was left behind), creates the four vertex files in it and
  // reports progress 0.
  void BeginRun();
  // Closes the vertex files, reporting a failed flush (the end of reading).
  void CloseVertexFiles();
  // Closes whatever the run still has open, without reporting, and removes
  // the staging folder with every file of the run. For a cancel and for any
  // failure; the output folder is not touched.
  virtual void AbortRun();
  // Moves the files of a complete run into the output folder. Nothing
  // happens when the run left no file (no usable object). Otherwise, in
  // this order: every staged file is written through to the disk; the
  // folder's settings file is removed, so that from here until the new one
  // is in place the folder is refused at open; every other file of a
  // network directory that the run did not write is removed (the value,
  // external-id and road-name files of an earlier network, an index this
  // run skipped); the staged files are renamed over the old ones in the
  // order of cImportedFileNames; the new settings file is renamed in last.
  // A process killed at any moment thus leaves either the old network, a
  // folder without settings file, or the new network. A network open in the
  // folder keeps reading the files it opened: renaming never writes into them.
  void InstallRun();
  // The staging folder of the run, with a trailing delimiter.
  const std::string& RunDirectory() const { return fRunDir; }
  // A file of the run (a name in the staging folder) is complete: its data
  // starts on its way to the disk while the run goes on.
  void FileComplete(const char* Name) { StartWriteBack(fRunDir + Name); }
  // Called between the steps of a run and of its installation, with the
  // step's name; does nothing here. A test may stop the process at any step.
  virtual void Checkpoint(const char* /*Step*/) {}

  // The intake shared by every reader. Per object a reader calls
  // WriteVertexIndex, then either AddPolyline once or AddError once.
  void WriteVertexIndex();
  // Takes fVertices[0 .. fNumPoints-1] as object fLinkCountFile of file
  // fileindex (link fLinkCount).
  void AddPolyline(int32_t fileindex);
  // role 1 = first vertex, 0 = intermediate, 2 = last.
  void AddVertex(TFloatPoint point, int32_t role);
  void AddError(int32_t fileindex, int32_t linklocal, int32_t link, TErrorCode errorcode, int32_t value);
  // The vertex buffer holding at least n points.
  TFloatPoint* VertexBuffer(int32_t n);
  // fZRadius from CoordinateUnit: 0.1 m in coordinate units.
  void SetZRadius();

  // Turns the vertex files into the network: lengths, nodes, coord.bin,
  // link.bin, node.bin, the settings file, the spatial index (progress r to
  // 100) and, with a key, the link cipher. Writes nothing else when no vertex
  // was written. Leaves its files to the run's clean-up on cancel or failure.
  void BuildNetwork(int32_t r);

  bool fAllowLoops = false;
  int32_t fEPSG = 0;
  std::unique_ptr<T32EncryptionArray> fEncoder2;
  int32_t fMaxNodesPerCell = 50;
  TImportErrorList fImportErrorList;
  int32_t fNodeCount = 0;
  TFloatRect fMBR{0, 0, 0, 0};
  int32_t fMaxdegree = 0;
  double fTotallength = 0;
  TDateTime fStartTime, fStopTime;
  std::string fCoordSys;
  bool fFailOnDifferentCoordSys = true;
  std::string fPrj;
  TCoordinateUnit fCoordinateUnit = cuUnknown;
  TFloatPointArray fVertices;
  std::string fg1Filename, fg2Filename, fg3Filename, fg3iFilename;
  bool fZLevels = false;
  bool fObjects_found = false;
  bool fSkipSpatialIndex = false;
  double fZRadius = 0;
  int32_t fLinkCount = 0;
  int32_t fLinkCountFile = 0;
  int32_t fNumSections = 0;
  int32_t fZfromField = -1, fZtoField = -1;
  int32_t fZFrom = 0, fZTo = 0;
  std::unique_ptr<TKvBufferedStream> fg1, fg2, fg3, fg3i;
  int32_t fNumPoints = 0;
  std::vector<std::string> fFiles;
  TImportSource fImportSource = isFiles;
  std::string fRunDir;  // the staging folder; empty outside a run

private:
  // Remembers that object fLinkCount came from file fileindex.
  void NoteFileObject(int32_t fileindex);
  // The stages of the build.
  void BuildLengths(class TXYTree& Tree, int32_t r, int32_t b1);
  void BuildLinkFile(const class TXYTree& Tree, int32_t b1, int32_t b2);
  void BuildNodeFile(const class TXYTree& Tree, int32_t b2, int32_t b3);
  void CompleteCoordSys();
  void BuildSpatialIndex(int32_t b3);
  void EncipherLinkFile();
  // A record for link L made after reading, with its file and number there.
  TImportError RecordOfLink(int32_t L, TErrorCode errorcode, int32_t value) const;
  // Adds records in ascending link order to the list, keeping it in link order.
  void MergeErrors(const std::vector<TImportError>& Records);

  int64_t fCoord3Values = 0;  // 8-byte values written to coord3.bin
  // Last link of each input file, so the build can place its own records.
  std::vector<int32_t> fFileLastLink;
  [[noreturn]] void RaiseInvalidCoordinate(const TFloatPoint& point) const;
};

// Kind of an input file, from its extension (and, for a .TAB, its .map).
enum class TInputKind : uint8_t { ikOther, ikSHP, ikMIF, ikTABNoMap, ikTAB500, ikTAB1500, ikTABOther };

class TImport : public TBaseImport {
public:
  TImport();
  ~TImport() override;

  // Appends names; nothing is checked until Execute.
  void Add(const std::string& filename);
  void AddFiles(const std::vector<std::string>& files);

  void Execute() override;

  // The companion of an input file found by sibling lookup; when none exists,
  // opening the usual name raises the stream's own "Cannot open file" error.
  // (Public: the desktop program checks file sets by the same rule.)
  static std::string RequiredCompanion(const std::string& name, const char* ext);

protected:
  // One listed file as CheckRequest found it, with the companions the run needs.
  struct TInputFile {
    std::string Name;  // as listed
    TInputKind Kind = TInputKind::ikOther;
    std::string Shx, Dbf;  // found by sibling lookup; Dbf (.dbf or .dat) only with z-levels
    std::string Map, Id;   // of a .TAB
    int64_t ShpSize = 0;
    int64_t Records = 0;  // entries of the .shx or .id; -1 for a .shx without header
  };

  // Raises on the first fault of the request; creates and changes nothing.
  virtual void CheckRequest();
  // Runs the reader of the checked kind with progress 0..26.
  virtual void ReadInput();
  // Builds the network from what ReadInput left; runs only when reading
  // finished without cancel.
  virtual void Build();

  // True when both z-level fields are set.
  bool WantZLevels() const { return fZfromField >= 0 && fZtoField >= 0; }
  static TInputKind KindOf(const std::string& filename);

  // The shapefile reader and its request checks.
  void CheckSHP();
  void ReadSHP();
  // The MapInfo TAB reader and its request checks. Layout 0 is a version 500
  // map, layout 1 a version 1500 map with 8-byte object ids and pointers.
  // Every table sets CoordinateUnit from its map; with FailOnDifferentCoordSys
  // false and tables of different units, the last table's unit is the run's
  // while the z-level radius was set from the first table's.
  void CheckTAB();
  void ReadTAB(int32_t layout);
  // Opens the z-level tables (f.Dbf of every input) read in CodePage, and
  // checks the z-level fields against them.
  void OpenZTables(uint16_t CodePage);
  // fZFrom and fZTo from record RecNum of the .dbf sequence.
  void ReadZLevels(int32_t RecNum);
  // Counts the next object of a table reader's file as a link, reads its
  // z-levels when on, writes its vertex index and reports progress.
  void NextTableObject();

  // The MIF reader and its request checks.
  void CheckMIF();
  void ReadMIF();

  std::vector<TInputFile> fInputs;
  TInputKind fKind = TInputKind::ikOther;
  // The .dbf sequence of a run with z-levels, opened by CheckRequest.
  std::unique_ptr<TDbfFiles> fZTables;
  std::vector<int64_t> fZTableEnds;  // running record totals, one per table
  // Unit and projection text found by CheckRequest in the first .prj.
  TCoordinateUnit fFoundUnit = cuUnknown;
  std::string fFoundPrj;
  // Code page of the .dat tables, from the charset of the first .TAB.
  uint16_t fDatCodePage = 1252;
  // Headers of the .mif inputs and, with z-levels, their .mid tables, found by CheckMIF.
  std::vector<TMifHeader> fMifHeaders;
  std::vector<std::string> fMidFiles;

  void AbortRun() override;
};

}  // namespace kovra
