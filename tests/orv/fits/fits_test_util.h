// Helpers shared by the FITS tests: card images, hand-made files, a private
// temporary folder and the fitsverify check.
#ifndef TESTS_ORV_FITS_FITS_TEST_UTIL_H
#define TESTS_ORV_FITS_FITS_TEST_UTIL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "orv/fits/fits_exception.h"

namespace fitstest {

// A card image: the text padded with blanks to 80 columns.
inline std::string card(const std::string& text) {
  std::string image = text;
  image.resize(80, ' ');
  return image;
}

// Card images one after the other, "END" appended unless told otherwise,
// blank-filled to whole records.
inline std::string headerText(const std::vector<std::string>& cards, bool end = true) {
  std::string text;
  for (const std::string& c : cards) text += card(c);
  if (end) text += card("END");
  text.resize((text.size() + 2879) / 2880 * 2880, ' ');
  return text;
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// "FitsException: " + message of what f throws, or "no exception".
inline std::string fitsError(const std::function<void()>& f) {
  try {
    f();
  } catch (const orv::FitsException& e) {
    return e.what();
  }
  return "no exception";
}

inline std::string fe(const std::string& message) { return "FitsException: " + message; }

// Runs fitsverify on a file; true when it reports no error.
inline bool fitsverifyClean(const std::string& path, std::string* report = nullptr) {
  const std::string command = "fitsverify " + path + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  std::string output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  pclose(pipe);
  if (report) *report = output;
  return output.find(" and 0 error(s). ****") != std::string::npos;
}

// A private folder below /tmp, removed with everything in it at the end.
class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orvfits.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir = pattern;
  }
  void TearDown() override {
    const std::string command = "rm -rf " + dir;
    ASSERT_EQ(0, std::system(command.c_str()));
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }

  std::string dir;
};

}  // namespace fitstest

#endif
