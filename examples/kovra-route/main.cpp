// kovra-route: snaps two points to a network and routes between them, or
// writes the route matrix of a list of points, with the library's public
// calls only: TNetwork to open the directory, TSpatialSearch to snap,
// TRouteCalc for the location route and its GIS outputs. Run with --help for
// the options.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "../common/example_args.h"
#include "../common/example_progress.h"
#include "foundation/kovra_csvfiles.h"
#include "network/kovra_locationlist.h"
#include "network/kovra_network.h"
#include "network/kovra_roadclassspeed.h"
#include "routing/kovra_calc.h"
#include "search/kovra_spatialsearch.h"

namespace {

using kovra::example::TArgError;

const char* const cHelp =
    "usage: kovra-route NETDIR X1 Y1 X2 Y2 [options]\n"
    "       kovra-route NETDIR --matrix POINTS.csv [options]\n"
    "\n"
    "The first form snaps the points (X1, Y1) and (X2, Y2), in the network's\n"
    "coordinates, to the nearest place on a link, routes from the first to the\n"
    "second and prints the cost, the links driven (negative: against the link's\n"
    "digitising direction) and how far each point lies from the network. The\n"
    "route is written as a GIS layer of one line with its Distance (km), Time\n"
    "(minutes) and DirectDist (km). The summary goes to standard output when\n"
    "the layer goes to a file (-o), else to standard error.\n"
    "\n"
    "The second form reads points from a CSV file, one 'label,x,y' per line (a\n"
    "first line that is not a point is a header), snaps each and writes the\n"
    "route matrix: a row per ordered pair of different points with ID_from,\n"
    "ID_to, Distance, Time and DirectDist; -1 where there is no route.\n"
    "\n"
    "The network needs its spatial index and no loop links. One-way rules come\n"
    "from attribute.bin when the network has one.\n"
    "\n"
    "  --distance      route by distance (km); the default.\n"
    "  --time          route by time (minutes), driving each road class at the\n"
    "                  speed --speeds gives, else at 60 km/h.\n"
    "  --speeds FILE   an INI file whose section [Speeds] holds Speed0 ...\n"
    "                  Speed31: km/h per road class (bits 0-4 of the attribute\n"
    "                  word); classes not named stay at 60.\n"
    "  --turns         turn mode: no U-turns at nodes, except in cul-de-sacs.\n"
    "  --matrix FILE   the second form: the points to route between.\n"
    "  --format NAME   layer format: geojson (default), csv, mif, mif8 (UTF-8\n"
    "                  MIF), shp, dbf, tab, kml, gml, gpx.\n"
    "  -o FILE         write the layer to FILE (the format's extensions are\n"
    "                  added: route -> route.shp, route.shx, route.dbf, ...).\n"
    "                  Default: standard output, for geojson and csv only.\n"
    "  --key K         the network's encryption key; default 0.\n"
    "  -h, --help      this text.\n"
    "\n"
    "Exit status: 0 when a route (or the matrix) was written; 1 when there is\n"
    "no route between the points or the run failed; 2 for a wrong call\n"
    "(nothing is written). Progress goes to standard error while opening the\n"
    "network or computing a matrix takes longer than a second.\n"
    "\n"
    "examples:\n"
    "  kovra-route mynet 100150 100210 101300 100900 > route.geojson\n"
    "  kovra-route mynet 100150 100210 101300 100900 --time --format shp -o route\n"
    "  kovra-route mynet --matrix points.csv --format csv -o matrix\n";

struct TFormat {
  const char* Name;
  kovra::TGISFormat Format;
  const char* Extension;  // of the file that -o names, stripped when given
};

const TFormat cFormats[] = {
    {"geojson", kovra::gfGeoJSON, ".geojson"}, {"csv", kovra::gfCSV, ".csv"},   {"mif", kovra::gfMIF, ".mif"},
    {"mif8", kovra::gfMIF8, ".mif"},           {"shp", kovra::gfSHP, ".shp"},   {"dbf", kovra::gfDBF, ".dbf"},
    {"tab", kovra::gfMITAB, ".tab"},           {"kml", kovra::gfKML2, ".kml"},  {"gml", kovra::gfGML2, ".xml"},
    {"gpx", kovra::gfGPX, ".gpx"},
};

struct TOptions {
  std::string Dir;
  kovra::TFloatPoint P1{}, P2{};
  std::string Matrix;
  bool Time = false, Turns = false;
  std::string Speeds;
  const TFormat* Format = &cFormats[0];
  std::string Out;
  int64_t Key = 0;
};

std::string Num(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// A float as the shortest text that reads back as the same float.
std::string Num(float v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

TOptions ParseArguments(int argc, char** argv) {
  TOptions o;
  std::vector<std::string> positional;
  bool criterion = false;
  kovra::example::TArgs args(argc, argv);
  while (args.More()) {
    const std::string a = args.Next();
    if (a == "--time" || a == "--distance") {
      if (criterion) throw TArgError("give one of --time and --distance");
      criterion = true;
      o.Time = a == "--time";
    } else if (a == "--speeds") o.Speeds = args.Value(a);
    else if (a == "--turns") o.Turns = true;
    else if (a == "--matrix") o.Matrix = args.Value(a);
    else if (a == "--format") {
      const std::string name = args.Value(a);
      o.Format = nullptr;
      for (const TFormat& f : cFormats)
        if (name == f.Name) o.Format = &f;
      if (!o.Format) throw TArgError("--format: unknown format " + name);
    } else if (a == "-o") o.Out = args.Value(a);
    else if (a == "--key") o.Key = args.Int(a, INT64_MIN, INT64_MAX);
    // A negative coordinate is a value, not an option.
    else if (a.size() > 1 && a[0] == '-' && !(a[1] == '.' || (a[1] >= '0' && a[1] <= '9')))
      kovra::example::UnknownOption(a);
    else positional.push_back(a);
  }
  if (positional.empty()) throw TArgError("NETDIR is missing");
  o.Dir = positional[0];
  if (o.Matrix.empty()) {
    if (positional.size() != 5) throw TArgError("give NETDIR X1 Y1 X2 Y2 (or NETDIR --matrix FILE)");
    static const char* const names[] = {"X1", "Y1", "X2", "Y2"};
    double v[4];
    for (int i = 0; i < 4; ++i)
      if (!kovra::example::ParseNumber(positional[size_t(i) + 1], v[i]))
        throw TArgError(std::string(names[i]) + ": '" + positional[size_t(i) + 1] + "' is not a number");
    o.P1 = {v[0], v[1]};
    o.P2 = {v[2], v[3]};
  } else if (positional.size() != 1) {
    throw TArgError("--matrix takes no coordinates: give NETDIR --matrix FILE");
  }
  if (!o.Speeds.empty() && !o.Time) throw TArgError("--speeds needs --time");
  if (o.Out.empty() && o.Format->Format != kovra::gfGeoJSON && o.Format->Format != kovra::gfCSV)
    throw TArgError(std::string("--format ") + o.Format->Name + " needs -o FILE");
  kovra::example::RequireFolder("NETDIR", o.Dir);
  if (!o.Matrix.empty()) kovra::example::RequireFile("--matrix", o.Matrix);
  if (!o.Speeds.empty()) kovra::example::RequireFile("--speeds", o.Speeds);
  if (!o.Out.empty()) {
    const std::filesystem::path parent = std::filesystem::path(o.Out).parent_path();
    if (!parent.empty()) kovra::example::RequireFolder("-o", parent.string());
  }
  if (o.Dir.back() != '/') o.Dir += '/';
  return o;
}

// The matrix points: label, x, y per line.
void ReadPoints(const std::string& File, kovra::TLocationList& LL, kovra::TCalc::TLabelList& Labels) {
  kovra::TCSVFiles csv(65001);
  csv.Add(File);
  csv.Open();
  std::vector<std::string> f;
  while (!csv.Eof()) {
    csv.ReadLine(f);
    if (f.empty()) continue;
    const std::string where = File + " line " + std::to_string(csv.LineNumber());
    double x = 0, y = 0;
    const bool point = f.size() >= 3 && kovra::example::ParseNumber(f[1], x) && kovra::example::ParseNumber(f[2], y);
    if (!point) {
      if (csv.LineNumber() == 1) continue;  // a header
      throw kovra::Exception(where + ": not 'label,x,y'");
    }
    LL.Add5(x, y);
    Labels.push_back(f[0]);
  }
  if (LL.Count() < 2) throw kovra::Exception(File + ": fewer than two points");
}

// The layer's file name as the writers take it: without the extension they add.
std::string BaseName(const TOptions& o) {
  const std::string ext = o.Format->Extension;
  if (o.Out.size() > ext.size() && o.Out.compare(o.Out.size() - ext.size(), ext.size(), ext) == 0)
    return o.Out.substr(0, o.Out.size() - ext.size());
  return o.Out;
}

// Without -o: GeoJSON comes back as text; CSV is written into a scratch
// folder and copied to standard output.
class TLayerTarget {
public:
  explicit TLayerTarget(const TOptions& o) : fO(o) {
    if (!o.Out.empty()) fName = BaseName(o);
    else if (o.Format->Format == kovra::gfCSV) {
      char tmpl[] = "/tmp/kovra-route-XXXXXX";
      if (!mkdtemp(tmpl)) throw kovra::Exception("cannot make a scratch folder in /tmp");
      fScratch = tmpl;
      fName = fScratch + "/layer";
    }
  }
  ~TLayerTarget() {
    std::error_code ec;
    if (!fScratch.empty()) std::filesystem::remove_all(fScratch, ec);
  }
  const std::string& Name() const { return fName; }
  // After the writer closed: the layer to standard output when it has no file.
  void Deliver(const kovra::TCalc& Calc) const {
    if (!fO.Out.empty()) return;
    if (fO.Format->Format == kovra::gfGeoJSON) {
      std::cout << Calc.GeoJSON();
      return;
    }
    std::ifstream in(fName + ".csv", std::ios::binary);
    std::cout << in.rdbuf();
  }

private:
  const TOptions& fO;
  std::string fName, fScratch;
};

void Snap(kovra::TSpatialSearch& S, const kovra::TFloatPoint& P, kovra::TLocation& Loc, double& Distance) {
  int32_t side = 0;
  kovra::TFloatPoint foot{};
  S.NearestLocation(P, Loc, side, Distance, foot);
}

int Main(int argc, char** argv) {
  const TOptions o = ParseArguments(argc, argv);
  const auto start = std::chrono::steady_clock::now();

  kovra::TNetwork net;
  net.SetDirectory(o.Dir);
  net.SetEncryptionKey(o.Key);
  std::error_code ec;
  const bool attributes = std::filesystem::exists(o.Dir + "attribute.bin", ec);
  {
    kovra::example::TProgressLine progress("kovra-route", [](int32_t) { return "opening the network"; });
    net.SetOnProgress(progress.Handler());
    net.Open(attributes, false, true, 0);
    net.SetOnProgress(nullptr);
  }
  // A time column from the road-class speeds: the criterion of --time and
  // the Time column of every output.
  kovra::TRoadClassSpeed speeds;
  if (!o.Speeds.empty()) speeds.LoadFromINI(o.Speeds, "Speeds", false);
  net.CreateArrayTime(1);
  net.CalculateTime(0, speeds);

  kovra::TRouteCalc calc(net, o.Turns);
  calc.SetTime(0);
  if (o.Time) calc.SetFastest(false);
  else calc.SetShortest(false);
  kovra::TSpatialSearch search(net);
  TLayerTarget target(o);
  const bool geometry = o.Format->Format != kovra::gfCSV && o.Format->Format != kovra::gfDBF;

  if (!o.Matrix.empty()) {
    kovra::TLocationList LL;
    kovra::TCalc::TLabelList labels;
    ReadPoints(o.Matrix, LL, labels);
    search.NearestLocationSimpleList(LL);
    kovra::example::TProgressLine progress("kovra-route", [](int32_t) { return "matrix"; });
    calc.SetOnProgress(progress.Handler());
    calc.RMatrixDynOut(target.Name(), o.Format->Format, LL, LL, &labels, &labels, true, true, false, true, false,
                       geometry, false);
    progress.Finish();
    target.Deliver(calc);
    return 0;
  }

  kovra::TLocation loc1{}, loc2{};
  double d1 = 0, d2 = 0;
  Snap(search, o.P1, loc1, d1);
  Snap(search, o.P2, loc2, d2);
  kovra::TRoute route;
  const float cost = calc.RouteDynEx(loc1, loc2, route);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::ostream& summary = o.Out.empty() ? std::cerr : std::cout;
  summary << "from " << Num(o.P1.x) << " " << Num(o.P1.y) << ": link " << loc1.link << " at " << Num(loc1.percent)
          << ", " << Num(d1) << " km off the network\n"
          << "to " << Num(o.P2.x) << " " << Num(o.P2.y) << ": link " << loc2.link << " at " << Num(loc2.percent)
          << ", " << Num(d2) << " km off the network\n";
  if (cost < 0) {
    summary.flush();
    throw kovra::Exception("no route between the two points");
  }
  summary << "cost " << Num(cost) << (o.Time ? " min" : " km") << "\nlinks";
  for (const int32_t l : route.links) summary << " " << l;
  summary << "\nseconds " << Num(took) << "\n";
  summary.flush();

  kovra::TLocationList from, to;
  from.Add4(loc1, o.P1);
  to.Add4(loc2, o.P2);
  calc.RoutePairs(target.Name(), o.Format->Format, from, to, nullptr, nullptr, true, true, false, true, geometry,
                  false);
  target.Deliver(calc);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return kovra::example::Run("kovra-route", cHelp, argc, argv, [&] { return Main(argc, argv); });
}
