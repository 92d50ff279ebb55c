// The enciphered value files (attribute and limits) against the network they
// are written for: a key that disagrees with the network's settings would
// scramble every value unseen (a one-way reversed, a link made non-drivable),
// so it is refused before any file is touched, on the table and event paths.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "import/kovra_importattributes.h"
#include "import/support/folder_state.h"
#include "network/support/network_writer.h"
#include "support/temp_dir_test.h"
#include "support/test_files.h"

using namespace kovra;
using namespace kovra::testsupport;

namespace {

constexpr int64_t cKey = 0x1234567890ABCDEF;
constexpr int32_t cLinks = 4;

class AttributeKey : public TTempDirTest {
protected:
  std::string Dir() const { return fTemp.Path.string() + "/"; }
  // A network of cLinks links written as the import writes it.
  void Network(int64_t Key) {
    TTestNetworkWriter w;
    w.Key = Key;
    for (int32_t i = 0; i < cLinks; ++i) w.AddLink({{10.0 * i, 0}, {10.0 * i, 5}});
    w.Write(Dir());
  }
};

TEST_F(AttributeKey, KeyMustAgreeWithTheNetwork) {
  const std::string csv = fTemp.File("values.csv");
  WriteBytes(csv, "1\r\n2\r\n3\r\n4\r\n");
  const auto stop = [](int32_t link, bool& last) { last = link == cLinks; };
  const struct {
    const char* Name;
    std::function<void(TImportAttributes&)> Run;
  } runs[] = {
      {"attribute column", [&](TImportAttributes& a) { a.ExecuteAttribute(0, "", fkCSV); }},
      {"limit column", [&](TImportAttributes& a) { a.ExecuteLimit(0, "", fkCSV); }},
      {"attribute event",
       [&](TImportAttributes& a) {
         a.OnReadAttribute = [&](TObject*, int32_t link, uint16_t& v, bool& last) {
           v = 1;
           stop(link, last);
         };
         a.ExecuteAttributeEvent();
       }},
      {"limit event",
       [&](TImportAttributes& a) {
         a.OnReadLimit = [&](TObject*, int32_t link, uint8_t& v, bool& last) {
           v = 1;
           stop(link, last);
         };
         a.ExecuteLimitEvent();
       }},
  };
  const struct {
    int64_t NetworkKey, Key;
    std::string Message;  // "" for a key that agrees
  } keys[] = {
      {cKey, 0, cMsgSupplyKey},
      {0, cKey, cMsgKeyForPlainNetwork},
      {cKey, cKey, ""},
      // A key other than the network's: refused as opening refuses it.
      {cKey, cKey + 2, "Wrong encryption key"},
      {0, 0, ""},
  };
  for (const auto& k : keys) {
    for (const auto& r : runs) {
      SCOPED_TRACE(std::string(r.Name) + ", network key " + std::to_string(k.NetworkKey) + ", key " +
                   std::to_string(k.Key));
      Network(k.NetworkKey);
      const TFolderState before = FolderState(Dir());
      TImportAttributes a;
      a.SetDirectory(Dir());
      a.SetEncryptionKey(k.Key);
      a.Add(csv);
      std::string message;
      try {
        r.Run(a);
      } catch (const EEncryptedData& e) {
        message = e.Message();
      }
      EXPECT_EQ(message.substr(0, k.Message.size()), k.Message);
      EXPECT_EQ(message.empty(), k.Message.empty());
      if (!k.Message.empty()) {
        EXPECT_TRUE(NoFileOfRunRemains(before, Dir()));
      }
    }
  }
}

}  // namespace
