#include "log/Ext.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

struct Link {
  int n;
  void PutHeader(std::ostream& os) const { os << "bus " << n << ": "; }
  void PutShortInfo(std::ostream& os) const { os << "link " << n << " up"; }
};

}  // namespace

TEST(ExtFormat, HeaderShortInfoAndQuoted) {
  Link l{3};
  std::ostringstream os;
  os << ext::header(&l) << "reset" << '|' << ext::shortinfo(&l) << '|' << ext::quoted("a b") << '|'
     << ext::quoted(std::string("")) << '|' << ext::quoted(42);
  EXPECT_EQ(os.str(), "bus 3: reset|link 3 up|\"a b\"|\"\"|\"42\"");
}

TEST(ExtFormat, BytesInHex) {
  const unsigned char bytes[] = {0x0A, 0xFF, 0x00, 0xc3};
  std::ostringstream os;
  os << ext::hex(bytes, bytes + 2);
  EXPECT_EQ(os.str(), "0A FF ");

  os.str("");
  os << ext::hex(reinterpret_cast<const char*>(bytes), 4);
  EXPECT_EQ(os.str(), "0A FF 00 C3 ");

  // the stream's own settings come back, the fill becomes a space
  os.str("");
  os.fill('*');
  os << std::dec << std::left;
  os << ext::hex(bytes, bytes) << ext::hex(bytes, bytes + 1);
  os.width(4);
  os << 10;
  EXPECT_EQ(os.str(), "0A 10  ");
  EXPECT_EQ(os.fill(), ' ');

  os.str("");
  os << ext::hex(static_cast<const char*>(nullptr), 5);
  EXPECT_EQ(os.str(), "");
}

TEST(ExtFormat, UnsignedInHex) {
  std::ostringstream os;
  os << ext::hex(0x1F, 4) << ' ' << ext::hex(255, 0) << ' ' << ext::hex(0xABCDE, 2) << ' ' << ext::hex(0u, 0) << ' '
     << 255;
  EXPECT_EQ(os.str(), "0x001F 0xFF 0xABCDE 0x0 255");
}

TEST(ExtTable, RulesAndCentredCells) {
  ext::Table t(5, 3);
  std::ostringstream os;
  os << t << ext::delimeter << ext::beginrow << "ab" << ext::nextrow << 'x' << ext::nextrow << ext::delimeter;
  EXPECT_EQ(os.str(),
            "+-----+---+\n"
            "| ab  | x |\n"
            "+-----+---+\n");

  os.str("");
  t.gap(os);
  EXPECT_EQ(os.str(), "|     |   |\n");
}

TEST(ExtTable, LongCellsAreWrittenWhole) {
  ext::Table t(3, 4);
  std::ostringstream os;
  os << t << ext::beginrow << "toolong" << ext::nextrow << 12 << 3u << ext::nextrow;
  EXPECT_EQ(os.str(), "|toolong|123 |\n");
}

TEST(ExtTable, OpenRowIsCompletedByRuleGapOrEndOfStatement) {
  ext::Table t(2, 2, 2);
  std::ostringstream os;
  os << t << ext::beginrow << "a" << ext::nextrow << ext::delimeter;
  EXPECT_EQ(os.str(),
            "|a |  |  |\n"
            "+--+--+--+\n");

  os.str("");
  os << t << ext::beginrow << "a" << ext::nextrow << "b" << ext::nextrow << "dropped";
  EXPECT_EQ(os.str(), "|a |b |  |\n");

  os.str("");
  os << t << ext::beginrow << "a" << ext::nextrow;
  t.gap(os);
  EXPECT_EQ(os.str(),
            "|a |  |  |\n"
            "|  |  |  |\n");
}

TEST(ExtTable, CompleteRowIgnoresCellsUntilBeginrow) {
  ext::Table t(1);
  std::ostringstream os;
  os << t << ext::beginrow << "a" << ext::nextrow << "b" << ext::nextrow;
  EXPECT_EQ(os.str(), "|a|\n");
  os << t << "c" << ext::nextrow;  // no beginrow: still complete
  EXPECT_EQ(os.str(), "|a|\n");
  os << t << ext::beginrow << "c" << ext::nextrow;
  EXPECT_EQ(os.str(), "|a|\n|c|\n");
}

TEST(ExtTable, WithoutColumnsNothingIsWritten) {
  ext::Table t;
  std::ostringstream os;
  os << t << ext::delimeter << ext::beginrow << "x" << ext::nextrow;
  t.gap(os);
  t.finalize(os);
  EXPECT_EQ(os.str(), "");

  t.add(2);
  t.init();
  os << t << ext::delimeter;
  EXPECT_EQ(os.str(), "+--+\n");
}

TEST(ExtTable, StatusDumpHeader) {
  ext::Table t(40, 30, 10, 10, 5, 60);
  std::ostringstream os;
  os << t << ext::delimeter << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count"
     << ext::nextrow << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow;
  const std::string expected = "+" + std::string(40, '-') + "+" + std::string(30, '-') + "+" + std::string(10, '-') +
                               "+" + std::string(10, '-') + "+" + std::string(5, '-') + "+" + std::string(60, '-') +
                               "+\n" + "|" + std::string(18, ' ') + "name" + std::string(18, ' ') + "|" +
                               std::string(12, ' ') + "events" + std::string(12, ' ') + "|" + "  count   " + "|" +
                               " handler  " + "|" + " fd  " + "|" + std::string(26, ' ') + "measure" +
                               std::string(27, ' ') + "|\n";
  EXPECT_EQ(os.str(), expected);
}
