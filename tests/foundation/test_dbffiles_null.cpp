// NULL fields of DBF tables: blank or '*'-filled text, alone and over a
// sequence of tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kovra_dbffiles.h"
#include "support/temp_dir_test.h"

using namespace kovra;

namespace {

// A dBASE III table with the fields Z N(5,0) and NAME C(4).
std::string Table(const std::vector<std::string>& records) {
  std::string b(32, '\0');
  b[0] = 3;
  const uint32_t n = uint32_t(records.size());
  for (int i = 0; i < 4; ++i) b[4 + i] = char(n >> (8 * i));
  const uint16_t header = 32 + 2 * 32 + 1, length = 1 + 5 + 4;
  b[8] = char(header & 0xFF), b[9] = char(header >> 8), b[10] = char(length), b[11] = 0;
  auto field = [&](const char* name, char type, uint8_t width) {
    std::string d(32, '\0');
    d.replace(0, std::string(name).size(), name);
    d[11] = type;
    d[16] = char(width);
    b += d;
  };
  field("Z", 'N', 5);
  field("NAME", 'C', 4);
  b += '\r';
  for (const std::string& r : records) b += ' ' + r;
  return b + '\x1a';
}

class DbfNull : public kovra::testsupport::TTempDirTest {};

TEST_F(DbfNull, BlankAndStarFilledFieldsAreNull) {
  const std::string one = Make("one.dbf", Table({"    3abcd", "*****    ", "     x   ", std::string(5, '\0') + "****",
                                                 "  ** a b ", "-*3**    "}));
  const std::string two = Make("two.dbf", Table({"*****    ", "    0 ** "}));
  TDbfFile t(one, 0);
  t.Open(false);
  const struct {
    int32_t Field;
    int64_t Record;
    bool Null;
  } cases[] = {
      {0, 1, false}, {1, 1, false},  // values
      {0, 2, true},  {1, 2, true},   // '*'-filled number, blank text
      {0, 3, true},  {1, 3, false},  // blank number
      {0, 4, true},  {1, 4, true},   // NUL bytes; '*'-filled text
      {0, 5, true},  {1, 5, false},  // stars within blanks
      {0, 6, false},                 // a star among other text is a value
      {0, 0, false}, {0, 7, false}, {2, 1, false}, {-1, 1, false},  // no such field or record
  };
  for (const auto& c : cases) EXPECT_EQ(t.IsNull(c.Field, c.Record), c.Null) << c.Field << "/" << c.Record;
  // A NULL number is what ReadInteger refuses.
  EXPECT_THROW(t.ReadInteger(0, 2), EConvertError);

  // Records of a sequence run on over its tables.
  TDbfFiles s(0);
  s.Add(std::vector<std::string>{one, two});
  s.Open();
  const bool expected[] = {false, true, true, true, true, false, true, false};
  for (int32_t r = 1; r <= 8; ++r) EXPECT_EQ(s.IsNull(0, r), expected[r - 1]) << r;
  EXPECT_TRUE(s.IsNull(1, 8));
  EXPECT_FALSE(s.IsNull(0, 9));
}

}  // namespace
