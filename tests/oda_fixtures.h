// Test helper: the signed ODA fixtures of tests/oda and their table of expected outcomes.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace emvtlv::test {

inline const std::string oda_fixtures = EMVTLV_ODA_FIXTURES;

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::string oda_session_log(const std::string& name) {
  return read_file(oda_fixtures + "/sessions/" + name + ".log");
}

// A row of sessions.tsv: the session, the id of its first failed check ("-": none), and
// a text its report holds.
struct oda_fixture_row {
  std::string name, first_failure, text;
};

inline std::vector<oda_fixture_row> oda_fixture_rows() {
  std::istringstream in(read_file(oda_fixtures + "/sessions.tsv"));
  std::vector<oda_fixture_row> rows;
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    const std::size_t a = line.find('\t'), b = line.find('\t', a + 1);
    rows.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
  }
  return rows;
}

}  // namespace emvtlv::test
