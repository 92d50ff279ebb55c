// The writer factory: the one place that knows every writer class, and where
// the TAB formats fall back to MIF/MID while their library is not loaded.
#include "giswriter/efal.h"
#include "giswriter/kovra_giswriter.h"
#include "giswriter/kovra_giswriter_array.h"
#include "giswriter/kovra_giswriter_dbf.h"
#include "giswriter/kovra_giswriter_json.h"
#include "giswriter/kovra_giswriter_tab.h"
#include "giswriter/kovra_giswriter_text.h"
#include "giswriter/kovra_giswriter_xml.h"
#include "giswriter/mfal.h"
#include "giswriter/mitab.h"

namespace kovra {

std::unique_ptr<TGISWriter> TGISWriter::GetGISObject(TGISFormat Inp) {
  switch (Inp) {
    case gfDBF: return std::make_unique<TGISWriterDBF>();
    case gfSHP: return std::make_unique<TGISWriterSHP>();
    case gfCSV: return std::make_unique<TGISWriterCSV>();
    case gfArray: return std::make_unique<TGISWriterArray>();
    case gfGML2: return std::make_unique<TGISWriterGML2>();
    case gfKML2: return std::make_unique<TGISWriterKML2>();
    case gfGeoJSON: return std::make_unique<TGISWriterGeoJSON>();
    case gfMIF8: return std::make_unique<TGISWriterMIF8>();
    case gfGPX: return std::make_unique<TGISWriterGPX>();
    case gfMITAB:
      if (MITAB_supported()) return std::make_unique<TGISWriterMITAB>();
      break;
    case gfMFAL:
      if (MFAL_supported()) return std::make_unique<TGISWriterMFAL>();
      break;
    case gfEFAL:
      if (EFAL_supported()) return std::make_unique<TGISWriterEFAL>();
      break;
    case gfEFALx:
      if (EFAL_supported()) return std::make_unique<TGISWriterEFALx>();
      break;
    default:
      break;
  }
  return std::make_unique<TGISWriterMIF>();
}

bool TGISWriter::MITAB_supported() { return MITABLoaded(); }
bool TGISWriter::MFAL_supported() { return MFALLoaded(); }
bool TGISWriter::EFAL_supported() { return EFALLoaded(); }
void TGISWriter::EFAL_Load(const std::string& libpath) { LoadEFAL(libpath); }

}  // namespace kovra
